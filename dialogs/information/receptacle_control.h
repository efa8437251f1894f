// CReceptacleControl: "Receptacle Control". The UPS's load segments (receptacle banks) as the
// agent reports them, and a segment's state as a picture and a text.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

#include "dialogs/frame/kt_dialog.h"

class QComboBox;
class QLabel;
class QLineEdit;
class StatePictureButton;

class CReceptacleControl : public KTDialog {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 208;
  static constexpr int kHelpContext = 21;
  static constexpr int IDC_BANK = 1774;
  static constexpr int IDC_UTILITY_DELAY_ON = 1781;
  static constexpr int IDC_UTILITY_DELAY_OFF = 1782;
  static constexpr int IDC_SCHEDULED_DELAY_ON = 1783;
  static constexpr int IDC_SCHEDULED_DELAY_OFF = 1784;
  static constexpr int IDC_ONOFF = 1787;
  static constexpr int IDC_STATUS_TEXT = 1789;

  // One segment as the dialog keeps it.
  struct Segment {
    uint8_t status = 255;
    uint16_t schedDownTime = 0;
    uint16_t schedDownDura = 0;
    uint16_t downDelay = 0;
    uint16_t upDelay = 0;
  };

  explicit CReceptacleControl(QWidget* parent = nullptr, const QString& hostName = QString());
  ~CReceptacleControl() override;

  bool OnInitDialog() override;
  void OnNewData(unsigned status, unsigned block, unsigned branch, unsigned item) override;
  void OnOK() override;

  // The pictures (up, down) and text of a status.
  static void StatusLook(uint8_t status, int& upBitmap, int& downBitmap, int& textId);
  int UpBitmap() const { return up_bitmap_; }
  int DownBitmap() const { return down_bitmap_; }
  const std::vector<Segment>& Segments() const { return segments_; }

 protected:
  void CleanUp();
  void UpdateButtonBitmap(uint8_t status);
  // Per-segment changes are not sent: the block goes back as it came.
  void SetScpData(uint8_t segment);
  void OnReceptacleOnoff();

 private:
  void BuildControls();
  void UpdateData(bool save);

  QComboBox* bank_ = nullptr;
  QLineEdit* delays_[4] = {};  // 1782, 1784, 1781, 1783
  StatePictureButton* onoff_ = nullptr;
  QLabel* status_label_ = nullptr;
  uint8_t delay_values_[4] = {0, 0, 0, 0};
  int selected_bank_ = -1;
  QString status_text_;
  uint8_t count_ = 0;
  std::vector<Segment> segments_;
  int up_bitmap_ = 211;
  int down_bitmap_ = 211;
};

extern DialogPointer<CReceptacleControl> pReceptacleControl;
