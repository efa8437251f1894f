#include "dialogs/information/ups_info_dlg.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <optional>
#include <string>

#include "core/base/setup_data.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/information/artwork.h"
#include "dialogs/information/record_text_validator.h"
#include "dialogs/information/report_list.h"

DialogPointer<CUpsInfoDlg> pUpsInfoDlg{DialogSlot::UpsInfoDlg};

TREM_REGISTER_DIALOG(CUpsInfoDlg);

static const StringTableRegistrar kStrings{
    {1165, "View System Information"},
    {3539, "UPS DESCRIPTION:"},
    {3540, "Name:"},
    {3541, "Serial Number:"},
    {3542, "CTO Number:"},
    {3543, "Model:"},
    {3544, "Version:"},
    {3545, "Online"},
    {3546, "Offline"},
    {3547, "Line Interactive"},
    {3548, "{unknown}"},
    {3549, "Topology:"},
    {3550, "UPS RATINGS:"},
    {3551, "VA Rating:"},
    {3552, "Watt Rating:"},
    {3553, "Number of Phases:"},
    {3554, "Nominal Input Voltage:"},
    {3555, "Nominal Input Frequency:"},
    {3556, "Nominal Output Voltage:"},
    {3557, "Nominal Output Frequency:"},
    {3558, "SOFTWARE:"},
    {3559, "Vendor:"},
    {3560, "Application Type"},
    {3561, "Application Version:"},
    {3562, "Operating System:"},
    {3563, "OS Version:"},
    {3564, "Network Adapter Version:"},
    {3565, "Network Adapter Name:"},
    {3566, "Unable to create temporary print file."},
};

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CUpsInfoDlg::kHelpContext, "View System Information",
    "Describes the UPS and the agent that watches it: the UPS's name, serial number, model and "
    "firmware version, its ratings, the agent's software and operating system and, when the "
    "agent reaches the UPS through a network adapter, the adapter's name and version.\n\n"
    "Powered Devices and Location are notes the agent keeps for you: type what the UPS feeds "
    "and where it stands, then press OK to store them on the agent.\n\n"
    "Print... prints everything shown.");

namespace {

QString Str(const std::string& s) {
  return QString::fromStdString(s);
}
bool PrintableFirst(const std::optional<std::string>& text) {
  if (!text || text->empty()) return false;
  const unsigned char c = static_cast<unsigned char>((*text)[0]);
  return c >= 32 && c <= 126;
}

}  // namespace

CUpsInfoDlg::CUpsInfoDlg(QWidget* parent, const QString& hostName) : KTDialog(kTemplateId, parent, hostName) {
  BindDialogPointer(pUpsInfoDlg);
  powered_devices_.clear();
  location_.clear();
  // With all networks (mode 4) the UPS information reply lands in the host's own image and is
  // not handed to the dialog: only the configuration reply is awaited.
  SetWaitCount(gnCommMode == 4 ? 1 : 2);
  BuildControls();
  Create(kTemplateId);
}

CUpsInfoDlg::~CUpsInfoDlg() = default;

void CUpsInfoDlg::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  // The pictures are painted left of the list; this space keeps their column free.
  top->addSpacing(170);
  list_ = new ReportList(IDC_INFO_LIST, this);
  list_->setMinimumSize(420, 300);
  list_->setSelectionMode(QAbstractItemView::NoSelection);
  list_->setFocusPolicy(Qt::NoFocus);
  top->addWidget(list_, 1);
  layout->addLayout(top, 1);

  // When the dialog is resized only the list grows: the fields and buttons keep their size
  // and their place relative to the centre and the bottom edge.
  auto* fields = new QGridLayout;
  auto* poweredLabel = new QLabel(QStringLiteral("&Powered Devices:"), this);
  poweredLabel->setObjectName(ControlName(IDC_POWERED_LABEL));
  powered_edit_ = new QLineEdit(this);
  powered_edit_->setObjectName(ControlName(IDC_POWERED_DEVICES));
  powered_edit_->setMaxLength(255);
  powered_edit_->setValidator(new RecordTextValidator(powered_edit_));
  poweredLabel->setBuddy(powered_edit_);
  auto* locationLabel = new QLabel(QStringLiteral("&Location:"), this);
  locationLabel->setObjectName(ControlName(IDC_LOCATION_LABEL));
  location_edit_ = new QLineEdit(this);
  location_edit_->setObjectName(ControlName(IDC_LOCATION));
  location_edit_->setMaxLength(255);
  location_edit_->setValidator(new RecordTextValidator(location_edit_));
  locationLabel->setBuddy(location_edit_);
  const int editWidth = powered_edit_->fontMetrics().averageCharWidth() * 60;
  powered_edit_->setFixedWidth(editWidth);
  location_edit_->setFixedWidth(editWidth);
  fields->addWidget(poweredLabel, 0, 0);
  fields->addWidget(powered_edit_, 0, 1);
  fields->addWidget(locationLabel, 1, 0);
  fields->addWidget(location_edit_, 1, 1);
  auto* centredFields = new QHBoxLayout;
  centredFields->addStretch(1);
  centredFields->addLayout(fields);
  centredFields->addStretch(1);
  layout->addLayout(centredFields);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(MakeButton(IDOK, QStringLiteral("OK")));
  buttons->addWidget(MakeButton(IDCANCEL, QStringLiteral("Cancel")));
  QPushButton* print = MakeButton(IDC_PRINT_INFO, QStringLiteral("&Print..."));
  connect(print, &QPushButton::clicked, this, [this] { OnPrint(); });
  buttons->addWidget(print);
  buttons->addWidget(MakeButton(ID_HELP, QStringLiteral("Help")));
  buttons->addStretch(1);
  layout->addLayout(buttons);

  setTabOrder(powered_edit_, location_edit_);
  setTabOrder(location_edit_, Control(IDOK));
  resize(660, 480);
}

bool CUpsInfoDlg::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  list_->MakeNameValueReport();
  SetHostCaption(1165);
  OnInfoBlock();
  OnConfigBlock();
  RequestData(4, 0, 0);
  RequestData(2, 0, 0);
  SetPrintFile(QString::fromLatin1(kPrintFileName));
  return true;
}

void CUpsInfoDlg::OnNewData(unsigned /*status*/, unsigned block, unsigned /*branch*/, unsigned /*item*/) {
  if (block == 2) {
    OnInfoBlock();
  } else if (block == 4) {
    OnConfigBlock();
    OnInfoBlock();
  }
}

void CUpsInfoDlg::UpdateData(bool save) {
  if (save) {
    powered_devices_ = powered_edit_->text();
    location_ = location_edit_->text();
  } else {
    powered_edit_->setText(powered_devices_);
    location_edit_->setText(location_);
  }
}

void CUpsInfoDlg::OnConfigBlock() {
  {
    auto lock = gScp.Lock();
    if (auto text = gScp.config.GetPoweredDevices()) powered_devices_ = Str(*text);
    if (auto text = gScp.config.GetLocation()) location_ = Str(*text);
  }
  if (!IsBusy()) UpdateData(false);
}

void CUpsInfoDlg::OnInfoBlock() {
  list_->clear();
  auto row = [this](int label, const QString& value) { list_->AddRow({LoadString(label), value}); };
  auto number = [&row](int label, int value) { row(label, QString::number(value)); };
  auto heading = [this](int label) {
    QTreeWidgetItem* item = list_->AddRow({LoadString(label), QString()});
    QFont font = item->font(0);
    font.setBold(true);
    item->setFont(0, font);
  };
  if (!IsAnswered(2, 0, 0)) {
    // Until the agent's UPS information arrives the console's image holds only its own
    // defaults (an unknown UPS, this program's application type): the headings stand alone.
    for (int label : {3539, 3550, 3558}) {
      if (label != 3539) list_->AddRow({QString(), QString()});
      heading(label);
    }
    list_->ApplyWidths();
    update();
    return;
  }
  const SetupData setup;
  {
    auto lock = gScp.Lock();
    const UpsInfoBlock& info = gScp.upsInfo;
    heading(3539);
    const std::string& name = setup.GetUpsModelName(info.GetModelIndex());
    if (!name.empty()) row(3540, Str(name));
    if (PrintableFirst(info.GetSerialNumber())) row(3541, Str(*info.GetSerialNumber()));
    if (PrintableFirst(info.GetCto())) row(3542, Str(*info.GetCto()));
    if (auto model = info.GetModelText()) row(3543, Str(*model));
    if (info.GetVersionMajor() != 255) row(3544, Str(info.GetVersionText()));
    switch (info.GetVariant()) {
      case 255:
        break;
      case 0:
        row(3549, LoadString(3545));
        break;
      case 1:
        row(3549, LoadString(3546));
        break;
      case 2:
        row(3549, LoadString(3547));
        break;
      default:
        row(3549, LoadString(3548));
        break;
    }
    list_->AddRow({QString(), QString()});
    heading(3550);
    if (info.GetVARating() != -1) number(3551, info.GetVARating());
    if (info.GetWattRating() != -1) number(3552, info.GetWattRating());
    if (info.GetNumberOfPhases() != 255) number(3553, info.GetNumberOfPhases());
    if (info.GetNominalInputVoltage() != 0xFFFF) number(3554, info.GetNominalInputVoltage());
    if (info.GetNominalInputFrequency() != 0xFFFF) number(3555, info.GetNominalInputFrequency());
    if (info.GetNominalOutputVoltage() != 0xFFFF) number(3556, info.GetNominalOutputVoltage());
    if (info.GetNominalOutputFrequency() != 0xFFFF) number(3557, info.GetNominalOutputFrequency());
    list_->AddRow({QString(), QString()});
    heading(3558);
    if (!setup.GetVendorText().empty()) row(3559, Str(setup.GetVendorText()));
    const int application = info.GetInterfaceType() == 255 ? 0 : info.GetInterfaceType();
    row(3560, Str(setup.GetApplicationTypeName(application)));
    if (info.GetSoftwareVersionSecond() != 255) row(3561, Str(info.GetSoftwareVersionText()));
    if (info.GetOsType() != 255) row(3562, Str(info.GetOsName()));
    if (info.GetOsVersionMajor() != 255) row(3563, Str(info.GetOsVersionText()));
    const int mode = gScp.config.GetCommMode();
    if ((mode == 9 || mode == 8) && info.GetAdapterVersionMajor() != 255) {
      row(3564, Str(info.GetAdapterVersionText()));
      if (auto adapter = gScp.config.GetAdapterName()) row(3565, Str(*adapter));
    }
  }
  list_->ApplyWidths();
  if (!IsBusy()) UpdateData(false);
  update();
}

void CUpsInfoDlg::OnOK() {
  UpdateData(true);
  {
    auto lock = gScp.Lock();
    gScp.config.SetPoweredDevices(powered_devices_.toStdString().c_str());
    gScp.config.SetLocation(location_.toStdString().c_str());
  }
  SendCommand(4, 4, 0);
  KTDialog::OnOK();
}

void CUpsInfoDlg::OnTimer(int timerId) {
  // The pictures are drawn again on every timer tick; the reply deadline is still reported.
  update();
  KTDialog::OnTimer(timerId);
}

void CUpsInfoDlg::OnPrint() {
  UpdateData(true);
  if (write_text_file() == 1) PrintTextFile();
}

void CUpsInfoDlg::MakeMultiLine(QString& text) {
  int start = 0;
  while (text.size() - start > kWrapWidth) {
    int cut = -1;
    for (int offset = kWrapWidth; offset >= 1; --offset) {
      if (text.at(start + offset).isSpace()) {
        cut = offset;
        break;
      }
    }
    if (cut < 0) break;
    text[start + cut] = QChar('\n');
    start += cut + 1;
  }
}

int CUpsInfoDlg::write_text_file() {
  std::ofstream out(kPrintFileName, std::ios::out | std::ios::trunc);
  if (!out) {
    TremMessageBox(this, LoadString(3566), MB_OK | MB_ICONEXCLAMATION);
    return -1;
  }
  for (const QStringList& r : list_->Rows()) {
    out << std::left << std::setw(30) << r.value(0).toStdString() << r.value(1).toStdString() << '\n';
  }
  QString powered = powered_devices_;
  QString location = location_;
  MakeMultiLine(powered);
  MakeMultiLine(location);
  out << '\n';
  out << std::left << std::setw(30) << "Powered Devices:  " << '\n';
  out << "  " << powered.toStdString() << '\n';
  out << std::left << std::setw(30) << "Location:  " << '\n';
  out << "  " << location.toStdString() << '\n';
  out.flush();
  if (!out) {
    TremMessageBox(this, LoadString(3566), MB_OK | MB_ICONEXCLAMATION);
    return -1;
  }
  return 1;
}

int CUpsInfoDlg::UpsBitmapForModel(int modelIndex, int vaRating) {
  switch (modelIndex) {
    case 1:
    case 6:
      return 188;
    case 2:
    case 7:
      return 198;
    case 3:
    case 10:
      return 197;
    case 4:
      return 193;
    case 5:
      return 199;
    case 11:
    case 12:
      return 236;
    case 13:
      return static_cast<unsigned>(vaRating) > 15000u ? 252 : 236;
    case 15:
      return 243;
    case 16:
      return 251;
    case 17:
      return 253;
    case 18:
    case 22:
    case 23:
      return 265;
    case 19:
      return 257;
    case 20:
      return 258;
    case 21:
      return 260;
    case 24:
      return 262;
    default:
      return 0;
  }
}

int CUpsInfoDlg::LogoBitmapForVendor(int vendorCode) {
  switch (vendorCode) {
    case 203:
    case 204:
    case 214:
    case 231:
    case 250:
      return vendorCode;
    default:
      return 0;
  }
}

CUpsInfoDlg::Pictures CUpsInfoDlg::ComputePictures() const {
  Pictures pictures;
  int modelIndex = 0;
  int va = -1;
  {
    auto lock = gScp.Lock();
    modelIndex = gScp.upsInfo.GetModelIndex();
    va = gScp.upsInfo.GetVARating();
  }
  const QRect listRect = list_->geometry();
  const int left = layout() != nullptr ? layout()->contentsMargins().left() : 0;
  const int top = listRect.top();
  const int h = listRect.height();
  pictures.upsBitmap = UpsBitmapForModel(modelIndex, va);
  int areaWidth = listRect.left() - 20 - left;
  if (pictures.upsBitmap != 0) {
    int height = h / 2;
    if (modelIndex == 11 || modelIndex == 12 || modelIndex == 13) {
      height = h - h / 4;
      areaWidth = listRect.left() - (pictures.upsBitmap == 252 ? 20 : 40) - left;
    }
    pictures.upsRect = QRect(left, top, areaWidth, height);
  }
  const SetupData setup;  // read afresh: the logo follows the current setup table
  pictures.logoBitmap = LogoBitmapForVendor(setup.GetVendorCode());
  if (pictures.logoBitmap != 0) {
    const int logoTop = pictures.upsBitmap != 0 ? pictures.upsRect.bottom() + 1 + 5 : top;
    const int logoWidth = pictures.upsBitmap != 0 ? pictures.upsRect.width() : listRect.left() - 20 - left;
    pictures.logoRect = QRect(left, logoTop, logoWidth, h / 4);
  }
  return pictures;
}

void CUpsInfoDlg::paintEvent(QPaintEvent* event) {
  KTDialog::paintEvent(event);
  const Pictures pictures = ComputePictures();
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  picture_height_ = 0;
  if (pictures.upsBitmap != 0) {
    painter.drawPixmap(pictures.upsRect, UpsArtwork(pictures.upsBitmap));
    picture_height_ = pictures.upsRect.height();
  }
  if (pictures.logoBitmap != 0) painter.drawPixmap(pictures.logoRect, LogoArtwork(pictures.logoBitmap));
}
