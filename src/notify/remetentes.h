#pragma once

#include <QWidget>

class QLabel;
class QPlainTextEdit;

namespace ostrel {

// The senders list of one new-mail notification: a title line (the server)
// and the senders, one a line. It keeps nothing else and lives until the user
// closes it; closing frees it.
class Remetentes : public QWidget {
    Q_OBJECT
public:
    explicit Remetentes(QWidget* parent = nullptr);
    ~Remetentes() override;

    // Shape and place: centred on the screen.
    void load();
    // The senders text as the new-mail detection built it (CR LF before each
    // sender); shown one sender a line.
    void set_list_text(const QString& frase);

    QLabel* Label1;         // title line: the server; drags the window
    QPlainTextEdit* Text1;  // the senders, one a line, read-only
    QLabel* Picture1;       // the close picture

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace ostrel
