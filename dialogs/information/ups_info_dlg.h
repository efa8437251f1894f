// CUpsInfoDlg: "View System Information". The UPS's description and ratings, the agent's
// software and operating system, a picture of the UPS and the vendor's logo; the two free
// texts the agent keeps in its configuration (powered devices, location) can be edited and
// sent back, and everything printed through "sysinfo.txt".
#pragma once

#include <QRect>
#include <QString>

#include "dialogs/frame/kt_dialog.h"

class QLabel;
class QLineEdit;
class ReportList;

class CUpsInfoDlg : public KTDialog {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 3010;
  static constexpr int kHelpContext = 31;
  static constexpr int IDC_INFO_LIST = 1115;
  static constexpr int IDC_POWERED_DEVICES = 1116;
  static constexpr int IDC_LOCATION = 1117;
  static constexpr int IDC_PRINT_INFO = 1129;
  static constexpr int IDC_LOCATION_LABEL = 1979;
  static constexpr int IDC_POWERED_LABEL = 1980;
  static constexpr const char* kPrintFileName = "sysinfo.txt";
  // Width the print file wraps the two free texts at.
  static constexpr int kWrapWidth = 66;

  explicit CUpsInfoDlg(QWidget* parent = nullptr, const QString& hostName = QString());
  ~CUpsInfoDlg() override;

  bool OnInitDialog() override;
  void OnNewData(unsigned status, unsigned block, unsigned branch, unsigned item) override;
  void OnOK() override;
  void OnTimer(int timerId) override;

  // The Print... button: writes the print file, then prints it.
  void OnPrint();
  // Writes "sysinfo.txt" from the list and the two texts; 1, or -1 after a message box.
  int write_text_file();
  // Wraps a text in place at white space so that no line is longer than 66 characters where
  // that is possible.
  static void MakeMultiLine(QString& text);

  // Where the two pictures are drawn (empty rectangle and bitmap 0 when none).
  struct Pictures {
    int upsBitmap = 0;
    QRect upsRect;
    int logoBitmap = 0;
    QRect logoRect;
  };
  Pictures ComputePictures() const;
  // The UPS picture of a model index (0: none) and the VA rating for index 13.
  static int UpsBitmapForModel(int modelIndex, int vaRating);
  static int LogoBitmapForVendor(int vendorCode);
  // Height of the UPS picture as last drawn (0: none).
  int PictureHeight() const { return picture_height_; }

  ReportList* List() const { return list_; }

 protected:
  void OnInfoBlock();
  void OnConfigBlock();
  void paintEvent(QPaintEvent* event) override;

 private:
  void BuildControls();
  void UpdateData(bool save);

  ReportList* list_ = nullptr;
  QLineEdit* powered_edit_ = nullptr;
  QLineEdit* location_edit_ = nullptr;
  QString powered_devices_;
  QString location_;
  int picture_height_ = 0;
};

extern DialogPointer<CUpsInfoDlg> pUpsInfoDlg;
