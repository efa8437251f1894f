#include "dialogs/information/alarm_history.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <fstream>
#include <iomanip>
#include <utility>
#include <vector>

#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/information/report_list.h"
#include "dialogs/information/time_text.h"

DialogPointer<CAlarmHistory> pAlarmHistory{DialogSlot::AlarmHistory};

TREM_REGISTER_DIALOG(CAlarmHistory);

// The UPS's alarm texts: 3000 + alarm code, codes 0 .. 193.
static const StringTableRegistrar kAlarmStrings{
    {3000, "Inverter AC over voltage"},
    {3001, "Inverter AC under voltage"},
    {3002, "Inverter under or over frequency"},
    {3003, "Bypass AC over voltage"},
    {3004, "Bypass AC under voltage"},
    {3005, "Bypass under or over frequency"},
    {3006, "Input AC over voltage"},
    {3007, "Input AC under voltage"},
    {3008, "Input under or over frequency"},
    {3009, "Output AC over voltage"},
    {3010, "Output AC under voltage"},
    {3011, "Output under or over frequency"},
    {3012, "Remote emergency power off"},
    {3013, "Remote go to Bypass"},
    {3014, "Building alarm 6"},
    {3015, "Building alarm 5"},
    {3016, "Building alarm 4"},
    {3017, "Building alarm 3"},
    {3018, "Building alarm 2"},
    {3019, "Building alarm 1"},
    {3020, "Static switch over temperature"},
    {3021, "Charger over temperature"},
    {3022, "Charger logic power fail"},
    {3023, "Charger over voltage or current"},
    {3024, "Inverter over temperature"},
    {3025, "Output overload"},
    {3026, "Rectifier input over current"},
    {3027, "Inverter output over current"},
    {3028, "DC link over voltage"},
    {3029, "DC link under voltage"},
    {3030, "Rectifier failed"},
    {3031, "Inverter fault"},
    {3032, "Battery contactor fail"},
    {3033, "Bypass breaker fail"},
    {3034, "Charger failure"},
    {3035, "Ramp up failed"},
    {3036, "Static switch failure"},
    {3037, "Analog board A/D reference fail"},
    {3038, "Bypass uncalibrated"},
    {3039, "Rectifier uncalibrated"},
    {3040, "Output uncalibrated"},
    {3041, "Inverter uncalibrated"},
    {3042, "DC voltage uncalibrated"},
    {3043, "Output current uncalibrated"},
    {3044, "Rectifier current uncalibrated"},
    {3045, "Battery current uncalibrated"},
    {3046, "Inverter On/Off stat failure"},
    {3047, "Battery current limit"},
    {3048, "Inverter failure (3 attempts)"},
    {3049, "Analog board A/D stat failure"},
    {3050, "Output current over 100%"},
    {3051, "Battery ground fault"},
    {3052, "Waiting for charger sync"},
    {3053, "Non-Volatile RAM failure"},
    {3054, "Analog board A/D time out"},
    {3055, "Shutdown imminent"},
    {3056, "Battery low"},
    {3057, "Utility fail"},
    {3058, "Output short circuit"},
    {3059, "Utility not present"},
    {3060, "Full time charging"},
    {3061, "Fast Bypass command"},
    {3062, "A/D error"},
    {3063, "SPI commnctns error"},
    {3064, "Rectifier failed self-test"},
    {3065, "Rectifier EEPROM failure"},
    {3066, "Rectifier EPROM failure"},
    {3067, "Input line voltage loss"},
    {3068, "Battery DC over voltage"},
    {3069, "Power supply over temperature"},
    {3070, "Power supply failure"},
    {3071, "Power supply 5 volt fault"},
    {3072, "Power supply +/-12 volt fault"},
    {3073, "Heatsink over temperature"},
    {3074, "Heatsink temperature sensor failed"},
    {3075, "Rectifier current over 125%"},
    {3076, "Rectifier fault interrupt failed"},
    {3077, "Rectifier power capacitor fault"},
    {3078, "Inverter program stack error"},
    {3079, "Inverter control board failed self-test"},
    {3080, "Inverter A/D converter self-test failed"},
    {3081, "Inverter ram self-test failure"},
    {3082, "Inverter EEPROM checksum fail"},
    {3083, "Inverter EPROM checksum fail"},
    {3084, "Inverter CPU self-test failed"},
    {3085, "Network not responding"},
    {3086, "Front panel self-test failure"},
    {3087, "Node EEPROM verification error"},
    {3088, "Output AC over voltage test failed"},
    {3089, "Output DC over voltage"},
    {3090, "Input phase rotation error"},
    {3091, "Inverter ramp up test failed"},
    {3092, "Inverter off command"},
    {3093, "Inverter on command"},
    {3094, "To bypass command"},
    {3095, "From bypass command"},
    {3096, "Auto mode command"},
    {3097, "Emergency shutdown command"},
    {3098, "Setup switch open"},
    {3099, "Inverter AC over voltage (interrupt)"},
    {3100, "Inverter AC under voltage (interrupt)"},
    {3101, "Absolute DCOV/ACOV (interrupt)"},
    {3102, "Phase A current limit"},
    {3103, "Phase B current limit"},
    {3104, "Phase C current limit"},
    {3105, "Bypass not available"},
    {3106, "Rectifier breaker open"},
    {3107, "Battery contactor open"},
    {3108, "Inverter contactor open"},
    {3109, "Bypass breaker open"},
    {3110, "Inverter board ACOV interrupt test failed"},
    {3111, "Inverter over temperature trip"},
    {3112, "Inverter board ACUV interrupt test failed"},
    {3113, "Inverter voltage feedback error"},
    {3114, "DC under voltage timeout"},
    {3115, "AC under voltage timeout"},
    {3116, "DC under voltage while charger is full on"},
    {3117, "Inverter voltage bias error"},
    {3118, "Rectifier phase rotation"},
    {3119, "Bypass phase rotation"},
    {3120, "System interface board failure"},
    {3121, "Parallel board failure"},
    {3122, "Loss of load sharing phase A"},
    {3123, "Loss of load sharing phase B"},
    {3124, "Loss of load sharing phase C"},
    {3125, "DC over voltage timeout"},
    {3126, "Battery totally discharged"},
    {3127, "Inverter phase bias error"},
    {3128, "Inverter voltage bias error"},
    {3129, "DC link bleed complete"},
    {3130, "Large charger input current"},
    {3131, "Inverter voltage too low for ramp level"},
    {3132, "Loss of redundancy"},
    {3133, "Loss of sync bus"},
    {3134, "Rectifier breaker shunt tripped"},
    {3135, "Loss of charger sync"},
    {3136, "Inverter low level test timeout"},
    {3137, "Output breaker open"},
    {3138, "Control power on"},
    {3139, "Inverter on"},
    {3140, "Charger on"},
    {3141, "Bypass on"},
    {3142, "Bypass power loss"},
    {3143, "Bypass manual turn on"},
    {3144, "Bypass manual turn off"},
    {3145, "Inverter bleeding dc link voltage"},
    {3146, "CPU ISR Error"},
    {3147, "System ISR restart"},
    {3148, "Parallel dc"},
    {3149, "Check battery flag"},
    {3150, "Battery charging"},
    {3151, "Battery not charged"},
    {3152, "Disabled Battery time"},
    {3153, "UPS series status"},
    {3154, "Other ups on"},
    {3155, "Parallel inv"},
    {3156, "UPS in parallel"},
    {3157, "Unused; available"},
    {3158, "Control power off"},
    {3159, "Greater than 106% overload on phase A"},
    {3160, "Greater than 106% overload on phase B"},
    {3161, "Greater than 106% overload on phase C"},
    {3162, "Greater than 125% overload on phase A"},
    {3163, "Greater than 125% overload on phase B"},
    {3164, "Greater than 125% overload on phase C"},
    {3165, "Greater than 150% overload on phase A"},
    {3166, "Greater than 150% overload on phase B"},
    {3167, "Greater than 150% overload on phase C"},
    {3168, "UPS On Battery"},
    {3169, "UPS On Bypass"},
    {3170, "Load Dumped (Load Power Off)"},
    {3171, "Load On Inverter"},
    {3172, "UPS On Command"},
    {3173, "UPS Off Command"},
    {3174, "Low Battery Shutdown"},
    {3175, "Auto On Enabled"},
    {3176, "Software Incompatibility Detected"},
    {3177, "Inverter Temperature Sensor Failed"},
    {3178, "DC Start Occurred"},
    {3179, "In Parallel Operation"},
    {3180, "Syncing to Bypass"},
    {3181, "Ramping UPS Up"},
    {3182, "Inverter On Delay"},
    {3183, "Charger On Delay"},
    {3184, "Waiting for Util Input"},
    {3185, "Close Bypass Breaker"},
    {3186, "Temporary Bypass Oper"},
    {3187, "Syncing to Output"},
    {3188, "Bypass Failure"},
    {3189, "Auto OFF Command Executed"},
    {3190, "Auto ON Command Executed"},
    {3191, "Battery Test failed"},
    {3192, "Fuse Failure"},
    {3193, "Fan Failure"},
};

static const StringTableRegistrar kStrings{
    {1673, "View Alarm Queue"}, {3249, "(no alarms found)"}, {3693, "#"}, {3694, "Time"}, {3695, "Alarm"},
};

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CAlarmHistory::kHelpContext, "View Alarm Queue",
    "Lists the alarms the UPS itself has recorded, as the agent read them from the UPS, the "
    "most recent first (at most 1000).\n\n"
    "An entry that starts with \"CLEAR:\" records the moment the alarm condition ended.\n\n"
    "Print... prints the list.");

namespace {
constexpr int kFirstAlarmString = 3000;
constexpr unsigned kAlarmTextCount = 194;  // codes 0 .. 193
}  // namespace

CAlarmHistory::CAlarmHistory(QWidget* parent, const QString& hostName)
    : KTDialog(kTemplateId, parent, hostName) {
  BindDialogPointer(pAlarmHistory);
  SetWaitCount(1);
  BuildControls();
  Create(kTemplateId);
}

CAlarmHistory::~CAlarmHistory() = default;

void CAlarmHistory::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  list_ = new ReportList(IDC_ALARM_LIST, this);
  list_->setMinimumSize(560, 280);
  layout->addWidget(list_, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  QPushButton* close = MakeButton(IDCANCEL, QStringLiteral("Close"));
  close->setDefault(true);
  buttons->addWidget(close);
  QPushButton* print = MakeButton(IDC_PRINT_ALARMS, QStringLiteral("&Print..."));
  connect(print, &QPushButton::clicked, this, [this] { OnPrint(); });
  buttons->addWidget(print);
  buttons->addWidget(MakeButton(ID_HELP, QStringLiteral("Help")));
  layout->addLayout(buttons);
  resize(640, 380);
}

void CAlarmHistory::ApplyColumnWidths() {
  // "#" is 30 pixels, or as wide as the largest row number needs; "Time" five twelfths of the
  // client width; "Alarm" the rest.
  const int number = std::max(30, QFontMetrics(list_->font()).horizontalAdvance(QStringLiteral("0000")) + 14);
  list_->SetWidthRule([number](int w) {
    const int time = w * 5 / 12;
    return std::vector<int>{number, time, std::max(0, w - number - time)};
  });
}

bool CAlarmHistory::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  list_->RemoveAll();
  list_->SetColumns({LoadString(3693), LoadString(3694), LoadString(3695)});
  list_->SetColumnAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
  ApplyColumnWidths();
  UpdateAlarms();
  RequestData(8, 1, 0);
  SetHostCaption(1673);
  SetPrintFile(QString::fromLatin1(kPrintFileName));
  return true;
}

void CAlarmHistory::OnNewData(unsigned /*status*/, unsigned /*block*/, unsigned /*branch*/,
                              unsigned /*item*/) {
  UpdateAlarms();
}

QString CAlarmHistory::AlarmText(unsigned code) {
  if (code < kAlarmTextCount) return LoadString(kFirstAlarmString + static_cast<int>(code));
  return QStringLiteral("Unknown alarm (code %1)").arg(code);
}

void CAlarmHistory::UpdateAlarms() {
  if (!WindowExists() || list_ == nullptr) return;
  list_->clear();
  // Until the agent's alarm queue arrives there is nothing to show, not even that it is empty.
  if (!IsFilled()) return;
  std::vector<std::pair<QString, QString>> entries;
  {
    auto lock = gScp.Lock();
    gScp.alarmQueue.ResetCursor();
    uint8_t code = 0;
    uint32_t time = 0;
    uint8_t flag = 0;
    while (static_cast<int>(entries.size()) < kMaxEntries && gScp.alarmQueue.GetNextEntry(code, time, flag)) {
      QString text = AlarmText(code);
      if (flag != 0) text = QStringLiteral("CLEAR: ") + text;
      entries.emplace_back(DefaultTimeText(time), text);
    }
  }
  int number = 1;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it, ++number) {
    list_->AddRow({QString::number(number), it->first, it->second});
  }
  if (entries.empty()) list_->AddRow({QString(), LoadString(3249)});
  list_->ApplyWidths();
}

bool CAlarmHistory::write_text_file() {
  std::ofstream out(kPrintFileName, std::ios::out | std::ios::trunc);
  if (!out) return false;
  out << std::right << std::setw(10) << "Number" << std::setw(20) << "Time" << std::setw(40) << "Alarm"
      << '\n';
  for (const QStringList& row : list_->Rows()) {
    out << std::setw(10) << row.value(0).toStdString() << std::setw(20) << row.value(1).toStdString()
        << std::setw(40) << row.value(2).toStdString() << '\n';
  }
  out.flush();
  return static_cast<bool>(out);
}

void CAlarmHistory::OnPrint() {
  // A file that could not be written is reported by the print step.
  write_text_file();
  PrintTextFile();
}

void CAlarmHistory::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) last_release_ = event->position().toPoint();
  KTDialog::mouseReleaseEvent(event);
}
