// CBugDlg: "Problem Report". A form for a problem report to the help desk: the entries persist
// in "preport.dat" (OK), Print writes "bugrport.txt" and prints it, Send mails the report with
// the event log ("eventlog.txt", the block's order) and the console's error log ("error.txt",
// from "error.dat") attached. The report names the UPS and the agent's software and system
// from the UPS information block. All files are in the current directory, with CR LF lines.
#pragma once

#include <QString>
#include <QStringList>

#include "dialogs/frame/kt_dialog.h"

class QLineEdit;
class QPlainTextEdit;

// The help desk the report goes to. The mail goes to the display name alone; the mail
// settings' alias line gives its address.
namespace help_desk {
inline constexpr const char* kName = "Help Desk";
inline constexpr const char* kAddress1 = "Tremona Support, 1 Example Road";
inline constexpr const char* kAddress2 = "Exampletown EX1 0AA";
inline constexpr const char* kPhone1 = "+1 555 0100";
inline constexpr const char* kPhone1Note = " (free of charge in North America)";
inline constexpr const char* kPhone2 = "+1 555 0101";
inline constexpr const char* kPhone3 = "+1 555 0102";
inline constexpr const char* kFax1 = "+1 555 0199";
inline constexpr const char* kFax1Note = " (North America)";
inline constexpr const char* kFax2 = "+1 555 0198";
inline constexpr const char* kEmail = "helpdesk@example.org";
}  // namespace help_desk

class CBugDlg : public KTDialog {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 3004;
  static constexpr int kHelpContext = 38;
  static constexpr int IDC_NAME = 1006;
  static constexpr int IDC_PHONE = 1008;
  static constexpr int IDC_SEND = 1045;
  static constexpr int IDC_DESCRIPTION = 1046;
  static constexpr int IDC_EMAIL = 1049;
  static constexpr int IDC_PRINT_REPORT = 1129;
  static constexpr int kMaxDescription = 1800;
  static constexpr int kMaxEmail = 255;
  static constexpr int kMaxName = 80;
  static constexpr int kMaxPhone = 20;
  static constexpr const char* kDataFile = "preport.dat";
  static constexpr const char* kReportFile = "bugrport.txt";
  static constexpr const char* kEventLogFile = "eventlog.txt";
  static constexpr const char* kErrorFile = "error.txt";
  static constexpr const char* kSubject = "Customer Problem Report";
  static constexpr const char* kEndOfMessage = "End of message from the Problem Report dialog.";

  explicit CBugDlg(QWidget* parent = nullptr, const QString& hostName = QString());
  ~CBugDlg() override;

  bool OnInitDialog() override;
  void OnOK() override;
  int ReadFileFromDisk();
  int WriteFileToDisk();
  void OnPrint();
  int PrintSetup();
  void BuildBugMessage();
  int WriteLog();
  int WriteError();
  void OnSend();

  // The description cut into lines of at most `width` characters, breaking a piece of at
  // least `threshold` characters at its last blank or tab.
  static QStringList Wrap(const QString& text, int width, int threshold);

  // The four entries of "preport.dat": name, phone, e-mail address, description.
  struct Entries {
    QString name;
    QString phone;
    QString email;
    QString description;
  };
  // The file's bytes as the entries (each cut to its field's length); the entries as the file's
  // bytes (each with CR LF line ends and ended by a zero byte).
  static Entries ParseDataFile(const QByteArray& bytes);
  static QByteArray DataFileBytes(const Entries& entries);

  const QString& Message() const { return message_; }

 private:
  void BuildControls();
  void ReadFields();
  void WriteFields();

  QLineEdit* name_edit_ = nullptr;
  QLineEdit* phone_edit_ = nullptr;
  QLineEdit* email_edit_ = nullptr;
  QPlainTextEdit* description_edit_ = nullptr;
  QString name_;
  QString phone_;
  QString email_;
  QString description_;
  QString message_;
};

extern DialogPointer<CBugDlg> pBugDlg;
