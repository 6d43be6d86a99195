#include "Form1.h"

#include <QAction>
#include <QCloseEvent>
#include <QApplication>
#include <QDateTime>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QMimeData>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "ProgramLoader.h"
#include "DownloadFrame.h"
#include "LinkProtocol.h"
#include "DeviceDescription.h"
#include "SettingsStore.h"
#include "ProgramFolder.h"

namespace {
// The layout is drawn in twips; 15 twips make one pixel at 96 dots per inch.
int Pixels(int twips) { return static_cast<int>(std::lround(twips / 15.0)); }

QRect TwipsRect(int left, int top, int width, int height) {
  return {Pixels(left), Pixels(top), Pixels(width), Pixels(height)};
}

// Colours are written 0x00BBGGRR.
QColor ColourFromBgr(uint32_t bgr) {
  return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                static_cast<int>((bgr >> 16) & 0xFF));
}

void SetBackColour(QWidget* widget, uint32_t bgr) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Window, ColourFromBgr(bgr));
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}

QString Text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QLabel* MakeLabel(QWidget* parent, const char* name, QRect geometry, uint32_t bgr) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  label->setGeometry(geometry);
  label->setFrameStyle(QFrame::Box | QFrame::Plain);
  label->setLineWidth(1);
  label->setAlignment(Qt::AlignCenter);
  // File names and port details are shown as they are, never as markup.
  label->setTextFormat(Qt::PlainText);
  SetBackColour(label, bgr);
  return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, QRect geometry) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  button->setGeometry(geometry);
  button->setAutoDefault(false);
  return button;
}

constexpr int kClientWidthTwips = 5445;
constexpr int kClientHeightTwips = 1980;
constexpr uint32_t kFormColour = 0xCAE6D7;
// About one frame of a 60 Hz display.
constexpr int kStatusPaintIntervalMs = 16;
// A replugged adapter is seen within a second, at no cost worth measuring.
constexpr int kDeviceWatchMs = 1000;
// A transfer whose line has been silent this long has lost its echo: a
// press then starts over, the way out that the window has always had.
constexpr int kEchoesArrivingMs = 1000;
// A handed-over file that waits is loaded this soon after its turn comes.
constexpr int kHandOverTurnMs = 100;

// The one local file that a drag carries; "" when it carries anything else.
QString DraggedFile(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls()) return {};
  const QList<QUrl> urls = data->urls();
  if (urls.size() != 1 || !urls.front().isLocalFile()) return {};
  return urls.front().toLocalFile();
}

std::string ByteText(int32_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(value & 0xFF));
  return text;
}

// What happened, to which file, when: three lines.
QString OutcomeSummary(const TransferOutcome& outcome, const AppState& state, const std::string& file) {
  const std::string at = "byte " + std::to_string(outcome.slot) + "/" + std::to_string(outcome.length);
  std::string what;
  switch (outcome.kind) {
    case TransferOutcome::Kind::Completed:
      what = "Download completed: all " + std::to_string(outcome.length) + " bytes echoed.";
      break;
    case TransferOutcome::Kind::WrongEcho:
      what = "Download failed at " + at + ": sent " + ByteText(outcome.sent) +
             ", the bootloader echoed " + ByteText(outcome.received) + RefusalNote(outcome, state) + ".";
      break;
    case TransferOutcome::Kind::LineLost:
      what = "Download failed at " + at + ": the serial line was lost.";
      break;
  }
  return Text(what) + "\n" + QFile::decodeName(file.c_str()) + "\n" +
         QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss");
}
}  // namespace

Form1::Form1(AppState& state, Dialogs& dialogs, SettingsAccess& settings, SerialLine& line,
             QWidget* parent)
    : QMainWindow(parent),
      state_(state),
      dialogs_(dialogs),
      settings_(settings),
      line_(line),
      ports_(state, settings, line, *this, dialogs) {
  setObjectName("Form1");
  setWindowTitle(Text(state_.AppTitle));
  BuildControls();
  ConnectCommands();
  statusFlush_.setSingleShot(true);
  statusFlush_.setInterval(kStatusPaintIntervalMs);
  connect(&statusFlush_, &QTimer::timeout, this, &Form1::PaintStatusNow);
  deviceWatch_.setInterval(kDeviceWatchMs);
  connect(&deviceWatch_, &QTimer::timeout, this, &Form1::WatchForDevice);
  handOverTurn_.setInterval(kHandOverTurnMs);
  connect(&handOverTurn_, &QTimer::timeout, this, &Form1::OpenHandedOver);
  setAcceptDrops(true);
}

Form1::~Form1() {
  // The line may outlive the window; it must not call back into it.
  line_.onReceive = nullptr;
  line_.onFailure = nullptr;
}

void Form1::BuildControls() {
  auto* client = new QWidget(this);
  client->setObjectName("client");
  client->setFixedSize(Pixels(kClientWidthTwips), Pixels(kClientHeightTwips));
  SetBackColour(client, kFormColour);
  setCentralWidget(client);

  label_commstatus_ =
      MakeLabel(client, "label_commstatus", TwipsRect(3540, 60, 1815, 255), kColourPortReady);
  Command1_ = MakeButton(client, "Command1", "Open HEX File", TwipsRect(60, 240, 1755, 375));
  label_hex_ = MakeLabel(client, "label_hex", TwipsRect(60, 660, 5295, 255), 0xFFFFFF);
  Command2_ = MakeButton(client, "Command2", "Download HEX File", TwipsRect(1800, 1080, 1755, 375));
  label_status_ = MakeLabel(client, "label_status", TwipsRect(60, 1620, 5295, 255), 0xC0FFFF);
  setTabOrder(Command1_, Command2_);

  menu1_ = menuBar()->addMenu("Options");
  menu1_->setObjectName("menu1");
  menuport_ = menu1_->addAction("Change Serial Port Number");
  menuport_->setObjectName("menuport");
  // Ctrl+Q closes the window, as in every desktop program; not a control on the form.
  auto* quit = new QAction(this);
  quit->setObjectName("quit");
  quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  addAction(quit);
  connect(quit, &QAction::triggered, this, &QWidget::close);

  const int menuHeight = menuBar()->sizeHint().height();
  setFixedSize(client->width(), client->height() + menuHeight);
}

void Form1::ConnectCommands() {
  connect(Command1_, &QPushButton::clicked, this,
          [this] { OpenProgramFile(state_, dialogs_, settings_, *this); });
  connect(Command2_, &QPushButton::clicked, this, &Form1::PressDownload);
  connect(menuport_, &QAction::triggered, this, [this] {
    ports_.ChangePort();
    OnPortReopened(state_, *this);
  });
  line_.onReceive = [this] {
    if (state_.TransferInProgress) lastTraffic_.start();
    OnPortReceive(state_, *this, line_.ReadAll());
  };
  line_.onFailure = [this](const std::string& why) {
    ports_.PortFailed(why);
    OnLinkLost(state_, *this);
  };
}

void Form1::PressDownload() {
  if (state_.TransferInProgress && lastTraffic_.isValid() && lastTraffic_.elapsed() < kEchoesArrivingMs) return;
  transferFile_ = loadedFile_;
  lastTraffic_.start();  // each byte after the first follows an echo, which stamps it
  StartDownload(state_, *this, dialogs_);
}

void Form1::closeEvent(QCloseEvent* event) {
  if (state_.TransferInProgress &&
      !dialogs_.Confirm("A download is in progress (byte " + std::to_string(state_.FrameIndex) + "/" +
                            std::to_string(state_.FrameLength) +
                            "). Closing now leaves the board part-programmed.",
                        "Close")) {
    event->ignore();
    return;
  }
  event->accept();
}

void Form1::CentreOnScreen() {
  // Without a window manager nobody places the window; do it here.
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  QRect frame = frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  move(frame.topLeft());
}

bool Form1::Load() {
  show();
  CentreOnScreen();  // the frame is known once shown
  Command1_->setFocus();
  std::string error;
  const std::string config = SettingsStore::DeviceDescriptionPath(state_.AppDir);
  if (!ReadDeviceDescription(config, state_.Device, error)) {
    dialogs_.ShowMessage(error);
    return false;
  }
  // Qt reads "[*]" as the place of a modified mark; doubled, it is shown as is.
  setWindowTitle(Text(state_.AppTitle + " - " + state_.Device.DeviceModel).replace("[*]", "[*][*]"));
  PumpEvents();
  state_.LastPath = settings_.ReadSetting(kLastPathSetting, DefaultFolder(state_.AppDir));
  state_.LinkState = 0;
  SetStatus(kWaitingText);
  ports_.OpenPort();
  ports_.ScanPorts();
  loaded_ = true;
  return true;
}

void Form1::dragEnterEvent(QDragEnterEvent* event) {
  // Only where the open command could run now.
  if (Command1_->isEnabled() && !DraggedFile(event->mimeData()).isEmpty()) {
    event->acceptProposedAction();
  }
}

void Form1::dropEvent(QDropEvent* event) {
  // The source of the drag waits for this event to end: the load comes after.
  const QString file = DraggedFile(event->mimeData());
  if (file.isEmpty()) return;
  OpenFromOutside(QFile::encodeName(file).toStdString());
  event->acceptProposedAction();
}

void Form1::OpenFromOutside(const std::string& path) {
  handedOver_.push_back(path);
  if (!handOverTurn_.isActive()) handOverTurn_.start();
  if (isVisible()) {
    raise();
    activateWindow();
  }
}

bool Form1::OpenCommandCouldRun() const {
  // A load disables Command1 before its first pump. A modal box (a message,
  // the open dialog, the port menu's question) has the user's attention.
  return loaded_ && Command1_->isEnabled() && !state_.TransferInProgress &&
         QApplication::activeModalWidget() == nullptr;
}

void Form1::OpenHandedOver() {
  if (handedOver_.empty()) {
    handOverTurn_.stop();
    return;
  }
  if (!OpenCommandCouldRun()) return;
  const std::string path = handedOver_.front();
  handedOver_.pop_front();
  OpenProgramPath(state_, path, dialogs_, settings_, *this);
}

void Form1::SetCommandsEnabled(bool enabled) {
  Command1_->setEnabled(enabled);
  Command2_->setEnabled(enabled);
  // A disabled QMenu also disables its entry in the menu bar.
  menu1_->setEnabled(enabled);
}

void Form1::DisableControls() {
  SetCommandsEnabled(false);
  PumpEvents();
}

void Form1::EnableControls() {
  SetCommandsEnabled(true);
  PumpEvents();
}

void Form1::SetHexLabel(const std::string& text, const std::string& detail) {
  label_hex_->setText(Text(text));
  label_hex_->setToolTip(Text(detail));
  // The load names the file only once it has loaded, from LastPath.
  loadedFile_ = text.empty() ? "" : state_.LastPath + text;
}

void Form1::SetCommStatus(const std::string& caption, uint32_t colour, const std::string& detail) {
  label_commstatus_->setText(Text(caption));
  label_commstatus_->setToolTip(Text(detail));
  SetBackColour(label_commstatus_, colour);
  if (colour != kColourPortError) {
    deviceWatch_.stop();
    return;
  }
  deviceSeen_ = line_.DeviceStamp(state_.PortNumber);
  if (!deviceWatch_.isActive()) deviceWatch_.start();
}

void Form1::WatchForDevice() {
  // A modal box may be the port menu's, which opens the port itself after it.
  if (QApplication::activeModalWidget() != nullptr || line_.IsOpen()) return;
  const std::string stamp = line_.DeviceStamp(state_.PortNumber);
  if (!stamp.empty() && stamp != deviceSeen_) {
    ports_.OpenPort();  // a failure here records the stamp it failed with
    return;
  }
  deviceSeen_ = stamp;
}

bool Form1::PortIsOpen() const { return line_.IsOpen(); }

void Form1::WriteByte(uint8_t value) { line_.WriteByte(value); }

void Form1::SetStatus(std::string_view text) {
  // The text is always exact; only its painting waits for the interval.
  const bool due = !statusPainted_.isValid() || statusPainted_.elapsed() >= kStatusPaintIntervalMs;
  label_status_->setUpdatesEnabled(due);
  label_status_->setText(Text(text));
  if (due) {
    statusPainted_.start();
    statusFlush_.stop();
  } else if (!statusFlush_.isActive()) {
    statusFlush_.start();
  }
}

void Form1::PaintStatusNow() {
  statusFlush_.stop();
  label_status_->setUpdatesEnabled(true);
  if (label_status_->isVisible()) label_status_->repaint();
  statusPainted_.start();
}

void Form1::TransferEnded(const TransferOutcome& outcome) {
  // Qt takes a tooltip for markup only when its first line holds a tag,
  // which this first line never does: a file name below it stays text.
  label_status_->setToolTip(OutcomeSummary(outcome, state_, transferFile_));
}

void Form1::PumpEvents() { QCoreApplication::processEvents(); }

void Form1::Pause(int milliseconds) {
  // The window cannot paint while the thread sleeps: what stays on view
  // through the pause must be on the screen before it begins.
  PaintStatusNow();
  QThread::msleep(static_cast<unsigned long>(std::max(milliseconds, 0)));
}
