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

class PasswordStore;
struct PopAccount;

// The accounts editor: lists the accounts file and adds, changes and deletes
// its accounts. It keeps no account data of its own: every button works on the
// file and the list is then rebuilt from it. Save moves the passwords the file
// still holds into the keyring, `passwords`; where there is none they stay.
class Form9 : public QWidget {
    Q_OBJECT
public:
    Form9(const AppContext& context, PasswordStore& passwords, QWidget* parent = nullptr);
    ~Form9() override;

    // The window's load: hint text, shape, and the list filled from the file.
    void load();

    void save();        // Command1
    void edit();        // Command3
    void delete_row();  // Command2
    void quit();        // Command4

    // The account that Edit put into the boxes and Save will replace; empty
    // when the boxes hold a new account.
    const QString& editing_key() const { return editing_key_; }

    QTreeWidget* lista;
    QPushButton* Command1;
    QPushButton* Command2;
    QPushButton* Command3;
    QPushButton* Command4;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLineEdit* Text3;
    QLineEdit* Text6;
    QLineEdit* Text7;
    QLineEdit* Text5;
    QLabel* Picture1;
    QLabel* Picture2;
    QLabel* Picture3;
    QLabel* Picture4;

private:
    void fill_list();
    void clear_boxes();
    QTreeWidgetItem* selected_row() const;
    void report(const QString& what, const QString& error);
    void follow_renamed_account(const PopAccount& account);
    void move_passwords();

    AppContext context_;
    PasswordStore& passwords_;
    QString editing_key_;
};

}  // namespace ostrel
