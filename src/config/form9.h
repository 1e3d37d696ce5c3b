#pragma once

#include <QString>
#include <QWidget>

#include "core/app_context.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace ostrel {

class AccountSignIns;
class PasswordStore;
struct PopAccount;

// The accounts editor: lists the accounts file and adds, changes and deletes
// its accounts. It keeps no account data of its own: every button works on the
// file and the list is then rebuilt from it. Save moves the passwords the file
// still holds into the keyring, `passwords`; where there is none they stay.
// Given `sign_ins`, an account whose server has a provider to sign in with
// can be signed in and out (Command5); its sign-in follows the account when
// it is renamed or deleted.
class Form9 : public QWidget {
    Q_OBJECT
public:
    Form9(const AppContext& context, PasswordStore& passwords, AccountSignIns* sign_ins = nullptr,
          QWidget* parent = nullptr);
    ~Form9() override;

    // The window's load: hint text, shape, and the list filled from the file.
    void load();

    void save();        // Command1
    void edit();        // Command3
    void delete_row();  // Command2
    void quit();        // Command4
    // Command5: signs the selected account in, or out; while the browser is
    // open, cancels the sign-in.
    void sign_in_or_out();

    // The account that Edit put into the boxes and Save will replace; empty
    // when the boxes hold a new account.
    const QString& editing_key() const { return editing_key_; }

    QTreeWidget* lista;     // the file's accounts, one a row; the password column hidden
    QPushButton* Command1;  // "Save": the boxes as an account
    QPushButton* Command2;  // "Delete": the selected account, after asking
    QPushButton* Command3;  // "Edit": the selected account into the boxes
    QPushButton* Command4;  // "Quit": closes, writes nothing
    QPushButton* Command5;  // "Sign in…", "Sign out" or "Cancel"; only for a provider's server
    QLabel* Label1;         // "Pop Server", names Text3
    QLabel* Label2;         // "Login", names Text6
    QLabel* Label3;         // "Password", names Text7
    QLabel* Label4;         // "Search String", names Text5
    QLineEdit* Text3;       // the server
    QLineEdit* Text6;       // the login
    QLineEdit* Text7;       // the password, masked
    QLineEdit* Text5;       // the search words, blank-separated
    QLabel* Picture1;       // hint beside Text3, in its tool tip
    QLabel* Picture2;       // hint beside Text6
    QLabel* Picture3;       // hint beside Text7
    QLabel* Picture4;       // hint beside Text5, set by load()
    QLabel* Label5;         // how the latest sign-in or sign-out went

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void fill_list();
    void clear_boxes();
    QTreeWidgetItem* selected_row() const;
    void report(const QString& what, const QString& error);
    void follow_renamed_account(const PopAccount& account);
    void move_passwords();
    void show_sign_in_button();
    void sign_in(const QString& server, const QString& login);
    void report_sign_in(const QString& problem);
    QString password_box_hint(const QString& server, const QString& login, bool field_empty);

    AppContext context_;
    PasswordStore& passwords_;
    AccountSignIns* sign_ins_;
    QString editing_key_;
    bool close_after_sign_in_ = false;
};

}  // namespace ostrel
