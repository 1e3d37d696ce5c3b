#include "config/form9.h"

#include <QCloseEvent>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "config/account_fields.h"
#include "config/account_sign_ins.h"
#include "config/accounts_file.h"
#include "config/password_move.h"
#include "config/password_store.h"
#include "core/whole_file.h"
#include "desktop/drag_surface.h"
#include "desktop/window_shape.h"

namespace ostrel {

namespace {

const QString kTitle = QStringLiteral("Lumetta");

const QString kSearchHint = QStringLiteral(
    "If You want search people or subjects, write words separeted by spaces. If You only want "
    "to know about new messages, leave empty");

// Shown in the password box after Edit when the line holds no password.
const QString kKeptInKeyring = QStringLiteral("kept in the keyring");

const QString kSignIn = QStringLiteral("Sign in\u2026");
const QString kPasswordInLine = QStringLiteral(
    " The password this account's line holds is still used: press Edit, empty the Password "
    "box and Save to check it with the sign-in.");
const QString kSignOut = QStringLiteral("Sign out");

const QString kPasswordsStay = QStringLiteral(
    "No keyring (Secret Service) runs on this desktop, so the passwords stay in the accounts "
    "file, which only you can read. Start GNOME Keyring or KWallet and save again to move "
    "them into the keyring.");

// The parts of an account key (server "<>" login).
PopAccount key_account(const QString& key) {
    const int cut = key.indexOf(QStringLiteral("<>"));
    return PopAccount{key.left(cut), cut < 0 ? QString() : key.mid(cut + 2), {}, {}};
}

QLabel* make_label(QWidget* parent, const char* name, const QString& text, const QRect& place) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(place);
    return label;
}

QLineEdit* make_box(QWidget* parent, const char* name, const QRect& place) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    box->setGeometry(place);
    return box;
}

QPushButton* make_button(QWidget* parent, const char* name, const QString& caption,
                         const QRect& place) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(place);
    return button;
}

// The small hint picture at the right of an entry row.
QLabel* make_hint(QWidget* parent, const char* name, const QString& tip, int top) {
    QLabel* hint = make_label(parent, name, QStringLiteral("?"), QRect(334, top, 20, 22));
    hint->setAlignment(Qt::AlignCenter);
    hint->setStyleSheet(QStringLiteral(
        "QLabel { background: #3d6fb4; color: white; font-weight: bold; border-radius: 10px; }"));
    hint->setToolTip(tip);
    return hint;
}

}  // namespace

Form9::Form9(const AppContext& context, PasswordStore& passwords, AccountSignIns* sign_ins,
             QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      context_(context),
      passwords_(passwords),
      sign_ins_(sign_ins) {
    setObjectName(QStringLiteral("Form9"));
    setWindowTitle(QStringLiteral("Pop3 Accounts"));
    setFixedSize(399, 461);

    lista = new QTreeWidget(this);
    lista->setObjectName(QStringLiteral("lista"));
    lista->setGeometry(34, 56, 331, 136);
    lista->setColumnCount(4);
    lista->setHeaderLabels({QStringLiteral("Server"), QStringLiteral("Login"),
                            QStringLiteral("Password"), QStringLiteral("Search String")});
    lista->setRootIsDecorated(false);
    lista->setSelectionMode(QAbstractItemView::SingleSelection);
    // Passwords are never shown in the list.
    lista->setColumnHidden(2, true);
    // The three visible columns share the list's width equally.
    const int column = (lista->width() - 4) / 3;
    for (int c : {0, 1, 3}) {
        lista->setColumnWidth(c, column);
    }

    Command2 = make_button(this, "Command2", QStringLiteral("Delete"), QRect(34, 196, 72, 24));
    Command3 = make_button(this, "Command3", QStringLiteral("Edit"), QRect(110, 196, 72, 24));

    Label1 = make_label(this, "Label1", QStringLiteral("Pop Server"), QRect(34, 232, 92, 22));
    Text3 = make_box(this, "Text3", QRect(128, 232, 200, 22));
    Picture1 = make_hint(this, "Picture1", QStringLiteral("Write here your Pop3 Address"), 232);

    Label2 = make_label(this, "Label2", QStringLiteral("Login"), QRect(34, 262, 92, 22));
    Text6 = make_box(this, "Text6", QRect(128, 262, 200, 22));
    Picture2 = make_hint(this, "Picture2", QStringLiteral("Write Your Login name"), 262);

    Label3 = make_label(this, "Label3", QStringLiteral("Password"), QRect(34, 292, 92, 22));
    Text7 = make_box(this, "Text7", QRect(128, 292, 200, 22));
    Text7->setEchoMode(QLineEdit::Password);
    Text7->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
    Picture3 = make_hint(this, "Picture3", QStringLiteral("Your Pop3 Password"), 292);

    Label4 = make_label(this, "Label4", QStringLiteral("Search String"), QRect(34, 322, 92, 22));
    Text5 = make_box(this, "Text5", QRect(128, 322, 200, 22));
    Picture4 = make_hint(this, "Picture4", QString(), 322);

    Command1 = make_button(this, "Command1", QStringLiteral("Save"), QRect(200, 356, 72, 26));
    Command4 = make_button(this, "Command4", QStringLiteral("Quit"), QRect(280, 356, 72, 26));
    Command4->setToolTip(QStringLiteral("Exit"));

    Command5 = make_button(this, "Command5", kSignIn, QRect(186, 196, 96, 24));
    Command5->hide();
    Label5 = make_label(this, "Label5", QString(), QRect(34, 390, 331, 48));
    Label5->setTextFormat(Qt::PlainText);
    Label5->setWordWrap(true);
    Label5->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    connect(Command1, &QPushButton::clicked, this, &Form9::save);
    connect(Command2, &QPushButton::clicked, this, &Form9::delete_row);
    connect(Command3, &QPushButton::clicked, this, &Form9::edit);
    connect(Command4, &QPushButton::clicked, this, &Form9::quit);
    connect(Command5, &QPushButton::clicked, this, &Form9::sign_in_or_out);
    connect(lista, &QTreeWidget::itemSelectionChanged, this, &Form9::show_sign_in_button);

    make_drag_surface(this, this);
}

Form9::~Form9() = default;

void Form9::load() {
    Picture4->setToolTip(kSearchHint);
    apply_shape(this, ShapedWindow::Form9);
    fill_list();
}

void Form9::fill_list() {
    lista->clear();
    const AccountsRead read = readAccounts(context_.files.accounts());
    for (const PopAccount& account : read.accounts) {
        auto* row = new QTreeWidgetItem(lista);
        row->setText(0, account.server);
        row->setText(1, account.login);
        row->setText(2, account.password);
        row->setText(3, account.search_words);
    }
    if (!read.ok()) {
        context_.log.log_event(QStringLiteral("Fatal Err 006 ") + read.error);
    }
}

void Form9::clear_boxes() {
    Text3->clear();
    Text6->clear();
    Text7->clear();
    Text5->clear();
    Text7->setPlaceholderText(QString());
}

QTreeWidgetItem* Form9::selected_row() const {
    const QList<QTreeWidgetItem*> rows = lista->selectedItems();
    return rows.isEmpty() ? nullptr : rows.first();
}

void Form9::report(const QString& what, const QString& error) {
    context_.log.log_event(what + QStringLiteral(": ") + error);
    context_.prompt(what + QStringLiteral(".\n") + error, kTitle, PromptIcon::Exclamation,
                    PromptButtons::Ok);
}

void Form9::save() {
    const PopAccount account{Text3->text(), Text6->text(), Text7->text(), Text5->text()};
    if (account.server.isEmpty()) {
        context_.prompt(QStringLiteral("Indique o Servidor"), kTitle, PromptIcon::Exclamation,
                        PromptButtons::Ok);
        return;
    }
    const QString problem = account_field_problem(account);
    if (!problem.isEmpty()) {
        context_.prompt(problem, kTitle, PromptIcon::Exclamation, PromptButtons::Ok);
        return;
    }

    const QString path = context_.files.accounts();
    // After Edit the old line goes and the edited one is appended in the same
    // rewrite, so a failure can never lose the account.
    const QString error = editing_key_.isEmpty() ? appendAccount(path, account)
                                                 : replace_account(path, editing_key_, account);
    if (!error.isEmpty()) {
        report(QStringLiteral("The account was not saved"), error);
        fill_list();
        return;
    }
    follow_renamed_account(account);
    editing_key_.clear();
    move_passwords();
    if (sign_ins_ != nullptr) {
        const AccountSignIns::Standing standing =
            sign_ins_->standing(account.server, account.login);
        if (!standing.provider.isEmpty() && !standing.signed_in) {
            Label5->setText(
                QStringLiteral("To sign this account in with %1, select it and press %2.")
                    .arg(standing.provider, kSignIn));
        }
    }

    const QString seen_state = context_.files.seen_state(account.server);
    if (!QFile::exists(seen_state)) {
        QFile file(seen_state);
        if (!open_owner_only(file, QIODevice::WriteOnly | QIODevice::NewOnly)) {
            context_.log.log_event(
                QStringLiteral("cannot create %1: %2").arg(seen_state, file.errorString()));
        }
    }
    fill_list();
    clear_boxes();
}

void Form9::edit() {
    QTreeWidgetItem* row = selected_row();
    if (row == nullptr) {
        return;
    }
    // The file is left alone: the account is replaced only when Save is pressed.
    Text3->setText(row->text(0));
    Text6->setText(row->text(1));
    Text7->setText(row->text(2));
    Text7->setPlaceholderText(
        password_box_hint(row->text(0), row->text(1), row->text(2).isEmpty()));
    Text5->setText(row->text(3));
    editing_key_ = account_key(row->text(0), row->text(1));
}

void Form9::delete_row() {
    QTreeWidgetItem* row = selected_row();
    if (row == nullptr) {
        return;
    }
    const QString key = account_key(row->text(0), row->text(1));
    const QString entry = keyring_key(row->text(0), row->text(1));
    const PromptAnswer answer =
        context_.prompt(QStringLiteral("Are You shure ?"), QStringLiteral("Apagar Registo"),
                        PromptIcon::None, PromptButtons::YesNo);
    if (answer == PromptAnswer::Yes) {
        const QString error = dropAccount(context_.files.accounts(), key);
        if (!error.isEmpty()) {
            report(QStringLiteral("The account was not deleted"), error);
        } else {
            if (sign_ins_ != nullptr) {
                report_sign_in(sign_ins_->forget(row->text(0), row->text(1)));
            }
            const KeyringResult removed = passwords_.remove(entry);
            if (removed.status != KeyringResult::Done &&
                removed.status != KeyringResult::NoService) {
                context_.log.log_event(entry +
                                       QStringLiteral(": its keyring password was not removed: ") +
                                       removed.reason());
            }
        }
        if (key == editing_key_) {
            editing_key_.clear();
        }
    }
    lista->clear();
    load();
}

// Edit changed the server or login of an account: its keyring entry follows
// the new name. A password typed anew is moved there by move_passwords().
void Form9::follow_renamed_account(const PopAccount& account) {
    if (editing_key_.isEmpty() || editing_key_ == account_key(account)) {
        return;
    }
    const PopAccount old = key_account(editing_key_);
    if (sign_ins_ != nullptr) {
        report_sign_in(
            sign_ins_->follow_rename(old.server, old.login, account.server, account.login));
    }
    const QString old_key = keyring_key(old.server, old.login);
    if (account.password.isEmpty()) {
        const KeyringResult stored = passwords_.read(old_key);
        if (!stored.done() ||
            !passwords_.write(keyring_key(account.server, account.login), stored.password).done()) {
            return;
        }
    }
    const KeyringResult removed = passwords_.remove(old_key);
    if (!removed.done()) {
        context_.log.log_event(old_key +
                               QStringLiteral(": its keyring password was not removed: ") +
                               removed.reason());
    }
}

// Every password the file still holds goes into the keyring. Without a
// keyring the user is told once per run; a keyring that refuses is told
// every time, since the user may just have declined to unlock it.
void Form9::move_passwords() {
    const PasswordMove move = move_passwords_to_keyring(context_.files.accounts(), passwords_);
    if (!move.file_error.isEmpty()) {
        report(QStringLiteral("The passwords stay in the accounts file"), move.file_error);
    } else if (move.refusal.status == KeyringResult::NoService) {
        if (!context_.state.told_passwords_stay) {
            context_.state.told_passwords_stay = true;
            context_.prompt(kPasswordsStay, kTitle, PromptIcon::Information, PromptButtons::Ok);
        }
    } else if (!move.refusal.done()) {
        report(QStringLiteral("The passwords stay in the accounts file"), move.refusal.reason());
    }
}

void Form9::quit() {
    close();
}

// While the browser is open the window stays: the sign-in is cancelled
// first, and the window closes once it has ended.
void Form9::closeEvent(QCloseEvent* event) {
    if (sign_ins_ != nullptr && sign_ins_->signing_in()) {
        close_after_sign_in_ = true;
        sign_ins_->cancel();
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

// The password box of an account after Edit: it says where the sign-in is.
QString Form9::password_box_hint(const QString& server, const QString& login, bool field_empty) {
    if (sign_ins_ != nullptr) {
        const AccountSignIns::Standing standing = sign_ins_->standing(server, login);
        if (standing.signed_in) {
            return (standing.lost ? QStringLiteral("sign in again with ")
                                  : QStringLiteral("signed in with ")) +
                   standing.provider;
        }
    }
    return field_empty ? kKeptInKeyring : QString();
}

// Command5 is offered for a selected account whose server has a provider.
void Form9::show_sign_in_button() {
    if (sign_ins_ == nullptr || sign_ins_->signing_in()) {
        return;
    }
    QTreeWidgetItem* row = selected_row();
    const AccountSignIns::Standing standing = row == nullptr
                                                  ? AccountSignIns::Standing()
                                                  : sign_ins_->standing(row->text(0), row->text(1));
    Command5->setVisible(!standing.provider.isEmpty());
    Command5->setText(standing.active() ? kSignOut : kSignIn);
    Command5->setToolTip(standing.active()
                             ? QStringLiteral("Sign this account out of %1").arg(standing.provider)
                             : QStringLiteral("Sign this account in with %1 in your web browser")
                                   .arg(standing.provider));
}

void Form9::sign_in_or_out() {
    if (sign_ins_ == nullptr) {
        return;
    }
    if (sign_ins_->signing_in()) {
        sign_ins_->cancel();
        return;
    }
    QTreeWidgetItem* row = selected_row();
    if (row == nullptr) {
        return;
    }
    const QString server = row->text(0);
    const QString login = row->text(1);
    if (sign_ins_->standing(server, login).active()) {
        Label5->setText(sign_ins_->sign_out(server, login));
        show_sign_in_button();
    } else {
        sign_in(server, login);
    }
}

// The editor waits for the browser with its list and buttons locked, so that
// the account cannot change under the sign-in; Command5 cancels it.
void Form9::sign_in(const QString& server, const QString& login) {
    Label5->setText(waiting_for_browser_text(sign_ins_->standing(server, login).provider));
    Command5->setText(QStringLiteral("Cancel"));
    const QList<QWidget*> locked = {lista, Command1, Command2, Command3};
    for (QWidget* control : locked) {
        control->setEnabled(false);
    }
    const SignInResult result = sign_ins_->sign_in(server, login);
    for (QWidget* control : locked) {
        control->setEnabled(true);
    }
    // A password in the account's line goes on being used, as ever.
    QTreeWidgetItem* row = selected_row();
    Label5->setText(result.signed_in() && row != nullptr && !row->text(2).isEmpty()
                        ? result.message + kPasswordInLine
                        : result.message);
    show_sign_in_button();
    if (close_after_sign_in_) {
        close();
    }
}

// What could not be done about a sign-in that follows its account: logged and shown.
void Form9::report_sign_in(const QString& problem) {
    if (!problem.isEmpty()) {
        context_.log.log_event(problem);
        Label5->setText(problem);
    }
}

}  // namespace ostrel
