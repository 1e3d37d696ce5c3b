// How long the log viewer takes to open a long log: the text built in one
// pass, and the whole window load (file read, text box filled), against the
// line-by-line rebuild of the text that grows with the square of the log.
#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <cstdio>

#include "core/line_split.h"
#include "core/resources.h"
#include "desktop/log_text.h"
#include "desktop/menu1.h"
#include "support/context_fixture.h"

using namespace ostrel;

namespace {

QByteArray make_log(int lines) {
    QByteArray log;
    for (int i = 0; i < lines; ++i) {
        log += "06/12/26 10:" + QByteArray::number(i % 60).rightJustified(2, '0') +
               ":00 - Can´t connect to Pop3 pop" + QByteArray::number(i) + ".example.org\r\n";
    }
    return log;
}

// The text as the line-by-line rule builds it: the whole text again per line.
QString line_by_line_text(const QByteArray& content) {
    QString text;
    for (const QByteArray& line : split_line_bytes(content)) {
        text = text + QStringLiteral("\r\n") + QString::fromUtf8(line);
    }
    return text;
}

template <typename Work>
double best_ms(int runs, Work work) {
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        work();
        best = std::min(best, clock.nsecsElapsed() / 1e6);
    }
    return best;
}

double window_load_ms(const QByteArray& log) {
    testing::ContextFixture fixture;
    fixture.folder.write(QStringLiteral("logfile.txt"), log);
    return best_ms(3, [&] {
        Menu1 viewer(fixture.context, {});
        viewer.load();
        if (viewer.Text2->blockCount() < 2) {
            std::fprintf(stderr, "the viewer showed no log\n");
        }
    });
}

}  // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    init_resources();

    const int small_lines = 10000;
    const QByteArray small_log = make_log(small_lines);
    if (log_viewer_text(small_log) != line_by_line_text(small_log)) {
        std::fprintf(stderr, "the one-pass text differs from the line-by-line text\n");
        return 1;
    }
    const double small_one_pass = best_ms(5, [&] { log_viewer_text(small_log); });
    const double small_line_by_line = best_ms(1, [&] { line_by_line_text(small_log); });

    const int big_lines = 100000;
    const QByteArray big_log = make_log(big_lines);
    const double big_one_pass = best_ms(5, [&] { log_viewer_text(big_log); });
    const double big_window = window_load_ms(big_log);

    std::printf("log viewer text, %d lines: one pass %.1f ms, line by line (baseline) %.1f ms\n",
                small_lines, small_one_pass, small_line_by_line);
    std::printf("log viewer text, %d lines (%.1f MB): one pass %.1f ms\n", big_lines,
                big_log.size() / 1e6, big_one_pass);
    std::printf("log viewer window load, %d lines: %.1f ms (target: well under 1000 ms)\n",
                big_lines, big_window);
    return 0;
}
