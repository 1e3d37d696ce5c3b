#pragma once

#include <QPoint>
#include <QSize>
#include <QWidget>

class QLabel;
class QPushButton;

namespace ostrel {

class ClosePicture;
class EventLog;
class Remetentes;

// Where a notification lands on a screen of `screen` pixels: its right edge
// 20 twips and its bottom edge 850 twips in from the screen's (15 twips a
// pixel), whatever else is open.
QPoint nota_position(const QSize& screen, const QSize& window = QSize(195, 98));

// One notification: kept above other windows without taking the focus, not in
// the task bar, open until the user closes it; closing frees it. Its senders
// lists belong to `parent` (the main window) and failures go to `log`.
class NotaForm : public QWidget {
    Q_OBJECT
public:
    NotaForm(EventLog& log, QWidget* parent);
    ~NotaForm() override;

    // Top-most, placed at the lower right, shaped; shows the window.
    void load();

    // New mail: when, how many new messages, the server, and the senders
    // (CR LF before each) that "See Senders" lists.
    void show_new_mail(const QString& date_time, int count, const QString& server,
                       const QString& senders);
    // A message matching a search word: the word, its decoded sender and
    // subject (each cut to fit its line) and the server.
    void show_match(const QString& word, const QString& from, const QString& subject,
                    const QString& server);

    // An account whose provider no longer takes its sign-in: when, the
    // account, and where to sign it in again.
    void show_sign_in_again(const QString& date_time, const QString& login, const QString& server);

    // Opens a senders list with title word `formname`, list `frase` and title
    // line `serv`. Returns the new window, or null after logging a failure.
    Remetentes* novaform2(const QString& formname, const QString& frase, const QString& serv);

    ClosePicture* Picture1;  // the close picture, top right
    QLabel* Label1;          // line 1: date and time, or "One message Match: " and the word
    QLabel* Label2;          // line 2: "You have  N new message(s)", or "From: " and the sender
    QLabel* Label3;          // line 3: the server, or "Subject: " and the subject
    QLabel* Label4;          // line 4: empty, or the server of a match
    QPushButton* Command1;   // "See Senders": opens a senders list of Label5
    QLabel* Label5;          // hidden: the senders text, CR LF before each

protected:
    bool event(QEvent* event) override;

private:
    EventLog& log_;
};

}  // namespace ostrel
