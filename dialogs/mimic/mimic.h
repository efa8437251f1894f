// CMimic: the modeless "View UPS Mimic" dialog. A picture of the UPS's power path that
// follows its state (normal, on battery, on bypass, bucking, boosting), alternating between
// two pictures once a second.
//
// The picture pair follows the status block's alarms: on bypass (6) pictures 1 and 2, bucking
// (18) 7 and 8, boosting (19) 9 and 10, otherwise 5 and 6; on battery (1) is 3 and 4 whatever
// else is set. The picture ids follow the UPS's type (the UPS information block's variant:
// 0 on-line, 1 off-line, 2 line-interactive); another type shows no picture. The dialog asks
// for nothing itself: the console's status and UPS information replies reach it.
#pragma once

#include <QImage>

#include "dialogs/frame/kt_dialog.h"

class CMimic : public KTDialog {
  Q_OBJECT

 public:
  static constexpr int IDD_MIMIC = 3031;
  static constexpr int kHelpContext = 33;
  static constexpr int kBlinkTimer = 2;
  static constexpr int kSizingPicture = 146;

  explicit CMimic(QWidget* parent = nullptr, const QString& hostName = QString());
  CMimic(QWidget* parent, const QString& selectionLabel, const QString& hostName,
         const QStringList& hostNames);
  ~CMimic() override;

  bool OnInitDialog() override;
  void OnNewData(unsigned status, unsigned block, unsigned branch, unsigned item) override;
  void OnTimer(int timerId) override;

  // The type code from gScp's UPS information; kept and returned.
  int UpdateInfo();
  // The picture pair from gScp's status block; starts the blink on its first call.
  void UpdateStatus();
  // Shows the current picture (the picture area is empty for an unknown type).
  void DisplayBitmap();
  // Sizes the window to picture 146 (W x (H + H / 6)), centres it, places the two buttons.
  void ModifyWindow();

  // The bitmap id of a picture index for a type; 0 when the type has none.
  static int BitmapFor(int type, int picture);
  static int PictureA() { return picture_a_; }
  static int PictureB() { return picture_b_; }
  int Picture() const { return picture_; }
  int TypeCode() const { return type_; }
  // The bitmap id now shown (0: none).
  int BitmapShown() const { return bitmap_id_; }
  QSize BitmapSize() const { return bitmap_.size(); }
  // The blink period of dialogs opened from now on (tests shorten it).
  static void SetBlinkPeriodMs(int ms) { blink_ms_ = ms; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Construct();

  QImage bitmap_;
  int bitmap_id_ = 0;
  int type_ = 255;
  int picture_ = 0;
  int phase_ = 1;
  int first_status_ = 1;

  static inline int picture_a_ = 5;
  static inline int picture_b_ = 6;
  static inline int blink_ms_ = 1000;
};

extern DialogPointer<CMimic> pMimic;
