#include "dialogs/eventlog/bug_dlg.h"

#include <time.h>

#include <QApplication>
#include <QFile>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/base/setup_data.h"
#include "core/mail_paging/mapi_mail.h"
#include "dialogs/eventlog/event_log_display.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/trem_globals.h"

DialogPointer<CBugDlg> pBugDlg{DialogSlot::BugDlg};

TREM_REGISTER_DIALOG(CBugDlg);

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CBugDlg::kHelpContext, "Problem Report",
    "Describe the problem for the help desk. OK keeps your entries for the next time, Print "
    "prints the report, and Send mails it to the help desk with the event log and the error "
    "log attached.");

namespace {

// Text files of the report keep CR LF line ends.
QByteArray Crlf(const QString& text) {
  QByteArray bytes = text.toLocal8Bit();
  bytes.replace("\n", "\r\n");
  return bytes;
}

// At most the first `n` characters of the text, cut between characters: a character outside
// the basic plane (two UTF-16 units) that the limit would split is left out whole.
QString LeftWhole(const QString& text, int n) {
  if (text.size() <= n) return text;
  if (n > 0 && text.at(n - 1).isHighSurrogate()) --n;
  return text.left(n);
}

bool WriteWhole(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  return file.write(bytes) == bytes.size() && file.flush();
}

QString CalendarText(uint32_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  char buffer[64] = {};
  if (ctime_r(&t, buffer) == nullptr) return QStringLiteral("?\n");
  return QString::fromLatin1(buffer);
}

struct Identity {
  QString model;
  QString serial;
  QString product;
  QString applicationType;
  QString version;
  QString osName;
  QString osVersion;
};

Identity ReadIdentity() {
  const SetupData setup;
  Identity id;
  auto lock = gScp.Lock();
  const UpsInfoBlock& info = gScp.upsInfo;
  id.model = QString::fromStdString(setup.GetUpsModelName(info.GetModelIndex()));
  id.serial = QString::fromStdString(info.GetSerialNumber().value_or(std::string()));
  id.product = QString::fromStdString(setup.GetApplicationTypeName(6));
  id.applicationType = QString::fromStdString(setup.GetApplicationTypeName(info.GetOsType()));
  id.version = QString::fromStdString(info.GetSoftwareVersionText());
  id.osName = QString::fromStdString(info.GetOsName());
  id.osVersion = QString::fromStdString(info.GetOsVersionText());
  return id;
}

}  // namespace

CBugDlg::CBugDlg(QWidget* parent, const QString& hostName) : KTDialog(kTemplateId, parent, hostName) {
  BindDialogPointer(pBugDlg);
  SetWaitCount(gnCommMode == 2 ? 1 : gnCommMode == 4 ? 0 : 2);
  BuildControls();
  Create(kTemplateId);
}

CBugDlg::~CBugDlg() = default;

void CBugDlg::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  auto* intro =
      new QLabel(QStringLiteral("Please fill out this form entirely and send it to the Help Desk."), this);
  intro->setAlignment(Qt::AlignHCenter);
  layout->addWidget(intro);
  auto* form = new QFormLayout;
  name_edit_ = new QLineEdit(this);
  name_edit_->setObjectName(ControlName(IDC_NAME));
  name_edit_->setMaxLength(kMaxName);
  phone_edit_ = new QLineEdit(this);
  phone_edit_->setObjectName(ControlName(IDC_PHONE));
  phone_edit_->setMaxLength(kMaxPhone);
  email_edit_ = new QLineEdit(this);
  email_edit_->setObjectName(ControlName(IDC_EMAIL));
  email_edit_->setMaxLength(kMaxEmail);
  description_edit_ = new QPlainTextEdit(this);
  description_edit_->setObjectName(ControlName(IDC_DESCRIPTION));
  description_edit_->setTabChangesFocus(true);
  description_edit_->setMinimumSize(380, 140);
  connect(description_edit_, &QPlainTextEdit::textChanged, this, [this] {
    const QString text = description_edit_->toPlainText();
    if (text.size() <= kMaxDescription) return;
    QSignalBlocker block(description_edit_);
    description_edit_->setPlainText(text.left(kMaxDescription));
    description_edit_->moveCursor(QTextCursor::End);
  });
  form->addRow(QStringLiteral("&Name"), name_edit_);
  form->addRow(QStringLiteral("&Phone No."), phone_edit_);
  form->addRow(QStringLiteral("&E-mail address"), email_edit_);
  form->addRow(QStringLiteral("Problem &description"), description_edit_);
  layout->addLayout(form, 1);
  layout->addLayout(MakeButtonRow({IDC_SEND, IDOK, IDCANCEL, IDC_PRINT_REPORT, ID_HELP}));
  auto* send = Control<QPushButton>(IDC_SEND);
  send->setText(QStringLiteral("&Send"));
  connect(send, &QPushButton::clicked, this, [this] { OnSend(); });
  auto* print = Control<QPushButton>(IDC_PRINT_REPORT);
  print->setText(QStringLiteral("&Print"));
  print->setAutoDefault(false);
  connect(print, &QPushButton::clicked, this, [this] { OnPrint(); });
  // Enter in a field sends the report.
  Control<QPushButton>(IDOK)->setDefault(false);
  Control<QPushButton>(IDOK)->setAutoDefault(false);
  send->setDefault(true);
  setTabOrder(name_edit_, phone_edit_);
  setTabOrder(phone_edit_, email_edit_);
  setTabOrder(email_edit_, description_edit_);
  setTabOrder(description_edit_, send);
}

bool CBugDlg::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  if (gnCommMode == 2) {
    RequestData(2, 0, 0);
  } else if (gnCommMode != 4) {
    RequestData(2, 0, 0);
    RequestData(6, 1, 0);
  }
  ReadFileFromDisk();
  SetPrintFile(QString::fromLatin1(kReportFile));
  WriteFields();
  setWindowTitle(QStringLiteral("Problem Report"));
  name_edit_->setFocus();
  return false;
}

void CBugDlg::ReadFields() {
  name_ = name_edit_->text();
  phone_ = phone_edit_->text();
  email_ = email_edit_->text();
  description_ = LeftWhole(description_edit_->toPlainText(), kMaxDescription);
}

void CBugDlg::WriteFields() {
  name_edit_->setText(name_);
  phone_edit_->setText(phone_);
  email_edit_->setText(email_);
  description_edit_->setPlainText(description_);
}

int CBugDlg::ReadFileFromDisk() {
  QFile file(QString::fromLatin1(kDataFile));
  if (!file.exists()) return 1;
  if (!file.open(QIODevice::ReadOnly)) {
    ShowMessageBox(this, QStringLiteral("Problem Report data file is unreadable!"), gcsMessageBoxTitle,
                   MB_OK | MB_ICONEXCLAMATION);
    return 0;
  }
  const Entries entries = ParseDataFile(file.read(64 * 1024));
  name_ = entries.name;
  phone_ = entries.phone;
  email_ = entries.email;
  description_ = entries.description;
  return 1;
}

CBugDlg::Entries CBugDlg::ParseDataFile(const QByteArray& data) {
  // Four strings, each ended by a zero byte; a string longer than its field is cut.
  const QList<QByteArray> parts = data.split('\0');
  const int limits[4] = {kMaxName, kMaxPhone, kMaxEmail, kMaxDescription};
  Entries entries;
  QString* fields[4] = {&entries.name, &entries.phone, &entries.email, &entries.description};
  for (int i = 0; i < 4; ++i) {
    QByteArray bytes = i < parts.size() ? parts[i] : QByteArray();
    bytes.replace("\r\n", "\n");
    *fields[i] = LeftWhole(QString::fromLocal8Bit(bytes), limits[i]);
  }
  return entries;
}

QByteArray CBugDlg::DataFileBytes(const Entries& entries) {
  QByteArray bytes;
  for (const QString* field : {&entries.name, &entries.phone, &entries.email, &entries.description})
    bytes += Crlf(*field) + '\0';
  return bytes;
}

int CBugDlg::WriteFileToDisk() {
  const QByteArray bytes = DataFileBytes({name_, phone_, email_, description_});
  if (!WriteWhole(QString::fromLatin1(kDataFile), bytes)) {
    ShowMessageBox(this, QStringLiteral("Unable to open the problem report file for writing!"),
                   gcsMessageBoxTitle, MB_OK | MB_ICONEXCLAMATION);
    return 0;
  }
  return 1;
}

void CBugDlg::OnOK() {
  ReadFields();
  if (WriteFileToDisk() == 1) KTDialog::OnOK();
}

QStringList CBugDlg::Wrap(const QString& text, int width, int threshold) {
  QStringList lines;
  // A line break the user typed ends a line too, so that every line of the report keeps its
  // indent.
  if (text.contains('\n')) {
    for (const QString& paragraph : text.split('\n')) {
      const QStringList part = Wrap(paragraph, width, threshold);
      lines << (part.isEmpty() ? QStringList{QString()} : part);
    }
    return lines;
  }
  qsizetype pos = 0;
  for (;;) {
    QString piece = text.mid(pos, width);
    if (piece.isEmpty()) break;
    bool cut = false;
    if (piece.size() >= threshold) {
      for (qsizetype i = piece.size() - 1; i >= 1; --i) {
        if (piece[i] == ' ' || piece[i] == '\t') {
          piece.truncate(i);
          cut = true;
          break;
        }
      }
    }
    lines << piece;
    pos += piece.size() + (cut ? 1 : 0);
  }
  return lines;
}

int CBugDlg::PrintSetup() {
  const Identity id = ReadIdentity();
  const QString rule = QString(30, '_') + QString(30, '_') + QString(17, '_') + "\n\n";
  QString r;
  r += QStringLiteral("\n\n\n\n\n\t\t\t%1\n\n\n").arg(QString::fromLatin1(kSubject));
  r += rule;
  r += QStringLiteral("To:\t%1\n").arg(QString::fromLatin1(help_desk::kName));
  r += QStringLiteral("\t%1\n").arg(QString::fromLatin1(help_desk::kAddress1));
  r += QStringLiteral("\t%1\n\n").arg(QString::fromLatin1(help_desk::kAddress2));
  r += QStringLiteral("Phone:\t%1").arg(QString::fromLatin1(help_desk::kPhone1));
  r += QStringLiteral("%1\n").arg(QString::fromLatin1(help_desk::kPhone1Note));
  r += QStringLiteral("\t%1\n").arg(QString::fromLatin1(help_desk::kPhone2));
  r += QStringLiteral("\t%1\n\n").arg(QString::fromLatin1(help_desk::kPhone3));
  r += QStringLiteral("Fax:\t%1").arg(QString::fromLatin1(help_desk::kFax1));
  r += QStringLiteral("%1\n").arg(QString::fromLatin1(help_desk::kFax1Note));
  r += QStringLiteral("\t%1\n\n").arg(QString::fromLatin1(help_desk::kFax2));
  r += QStringLiteral("Email:\t%1\n\n").arg(QString::fromLatin1(help_desk::kEmail));
  r += QStringLiteral("Re:\t%1\n\n").arg(QString::fromLatin1(kSubject));
  r += rule;
  r += QStringLiteral("\tName:\t\t\t\t%1\n").arg(name_);
  r += QStringLiteral("\tPhone No.:\t\t\t%1\n").arg(phone_);
  r += QStringLiteral("\tE-mail address:\t\t\t%1\n\n").arg(email_);
  if (gnCommMode == 4) {
    r += QStringLiteral("\tSoftware Type:\t\t\tTremona Kessa\n");
  } else {
    r += QStringLiteral("\tType of UPS:\t\t\t%1\n").arg(id.model);
    r += QStringLiteral("\tUPS Serial Number:\t\t%1\n").arg(id.serial);
    r += QStringLiteral("\tSoftware Type:\t\t\t%1 %2\n").arg(id.product, id.applicationType);
    r += QStringLiteral("\tSoftware Version:\t\t%1\n").arg(id.version);
    r += QStringLiteral("\tType of Operating System:\t%1\n").arg(id.osName);
    r += QStringLiteral("\tOperating System Version:\t%1\n\n").arg(id.osVersion);
  }
  r += QStringLiteral("\tProblem description:\n\n");
  for (const QString& line : Wrap(description_, 68, 67)) r += "\t" + line + "\n";
  if (!WriteWhole(QString::fromLatin1(kReportFile), Crlf(r))) {
    ShowMessageBox(this, QStringLiteral("Unable to open file for writing!"), gcsMessageBoxTitle,
                   MB_OK | MB_ICONEXCLAMATION);
    return 0;
  }
  return 1;
}

void CBugDlg::OnPrint() {
  ReadFields();
  if (PrintSetup() == 1) PrintTextFile();
}

void CBugDlg::BuildBugMessage() {
  const Identity id = ReadIdentity();
  QString m;
  m += QStringLiteral("%1\n\n\n").arg(QString::fromLatin1(kSubject));
  m += QStringLiteral("Name:\t\t\t%1\n").arg(name_);
  m += QStringLiteral("Phone No.:\t\t%1\n").arg(phone_);
  m += QStringLiteral("E-mail address:\t\t%1\n\n").arg(email_);
  m += QStringLiteral("Type of UPS:\t\t%1\n").arg(id.model);
  m += QStringLiteral("UPS Serial Number:\t\t%1\n").arg(id.serial);
  m += QStringLiteral("Software Type:\t\t%1\n").arg(id.applicationType);
  m += QStringLiteral("Software Version:\t\t%1\n").arg(id.version);
  m += QStringLiteral("Type of Operating System:\t%1\n").arg(id.osName);
  m += QStringLiteral("Operating System Version:\t%1\n\n").arg(id.osVersion);
  m += QStringLiteral("Problem description:\n\n");
  for (const QString& line : Wrap(description_, 80, 79)) m += line + "\n";
  m += QString::fromLatin1(kEndOfMessage);
  message_ = m;
}

int CBugDlg::WriteLog() {
  if (!CEventLogDisplay::WriteEventLogFile(QString::fromLatin1(kEventLogFile),
                                           CEventLogDisplay::ReadEventLog(), false)) {
    ShowMessageBox(this, QStringLiteral("Unable to open event log file for writing!"), gcsMessageBoxTitle,
                   MB_OK | MB_ICONEXCLAMATION);
    return 0;
  }
  return 1;
}

int CBugDlg::WriteError() {
  QFile errors(QStringLiteral("error.dat"));
  // As the record-file class does: a missing log is created empty.
  if (!errors.open(QIODevice::ReadWrite)) {
    ShowMessageBox(this, QStringLiteral("error.dat does not exists or is unreadable!"), gcsMessageBoxTitle,
                   MB_OK | MB_ICONEXCLAMATION);
    return 0;
  }
  const QByteArray bytes = errors.read(1024 * 1024);
  errors.close();
  QString text = QStringLiteral("\t\t\tError Log\n\n");
  auto field = [&bytes](qsizetype at) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData() + at);
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
  };
  int number = 0;
  for (qsizetype at = 0; at + 20 <= bytes.size(); at += 20, ++number) {
    text += QStringLiteral("%1) error:%2.%3.%4.%5 occured at %6")
                .arg(number)
                .arg(field(at + 4))
                .arg(field(at + 8))
                .arg(field(at + 12))
                .arg(field(at + 16))
                .arg(CalendarText(static_cast<uint32_t>(field(at))));
  }
  if (!WriteWhole(QString::fromLatin1(kErrorFile), Crlf(text))) {
    ShowMessageBox(this, QStringLiteral("Unable to open error.txt file for writing!"), gcsMessageBoxTitle,
                   MB_OK | MB_ICONEXCLAMATION);
    return 0;
  }
  return 1;
}

void CBugDlg::OnSend() {
  MapiMail mail;
  ReadFields();
  // The message ends with its closing line once.
  BuildBugMessage();
  if (WriteLog() != 1)
    ShowMessageBox(this, QStringLiteral("Unable to retrieve event log!"), gcsMessageBoxTitle,
                   MB_OK | MB_ICONEXCLAMATION);
  if (WriteError() != 1)
    ShowMessageBox(this, QStringLiteral("Unable to retrieve error information!"), gcsMessageBoxTitle,
                   MB_OK | MB_ICONEXCLAMATION);
  mail.AddRecipient(help_desk::kName, nullptr, 0);
  mail.AddAttachment(kEventLogFile);
  mail.AddAttachment(kErrorFile);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const int sent = mail.Send(kSubject, message_.toUtf8().constData());
  QApplication::restoreOverrideCursor();
  ShowMessageBox(this,
                 sent == 1 ? QStringLiteral("The e-mail message has been sent.")
                           : QStringLiteral("Unable to deliver e-mail message."),
                 gcsMessageBoxTitle, MB_OK | MB_ICONEXCLAMATION);
}
