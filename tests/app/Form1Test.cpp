#include <sys/resource.h>
#include <unistd.h>

#include <QFile>
#include <QLocalSocket>
#include <QMessageBox>
#include <QGuiApplication>
#include <filesystem>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QTest>
#include <QUrl>
#include <filesystem>
#include <QWindow>

#include "HandOver.h"
#include "QtDialogs.h"
#include "common/HexText.h"
#include "LinkProtocol.h"
#include "app/WindowTestSupport.h"

namespace {
QColor Back(QWidget* widget) { return widget->palette().color(QPalette::Window); }

// Records the text of a label each time it is painted.
class PaintProbe : public QObject {
 public:
  explicit PaintProbe(QLabel* label) : label_(label) { label->installEventFilter(this); }
  std::vector<QString> painted;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) painted.push_back(label_->text());
    return false;
  }

 private:
  QLabel* label_;
};

// The widget that Tab moves the focus to.
QWidget* NextTabStop(QWidget* from) {
  for (QWidget* w = from->nextInFocusChain(); w != from; w = w->nextInFocusChain()) {
    if ((w->focusPolicy() & Qt::TabFocus) && w->isEnabled() && w->isVisible()) return w;
  }
  return from;
}

constexpr QColor kLightGreen(192, 255, 192);
constexpr QColor kLightRed(255, 192, 192);
}  // namespace

TEST_F(WindowTest, ControlsHaveTheirNamesPlacesAndColours) {
  struct LabelCase {
    const char* name;
    QRect geometry;
    QColor back;
  };
  for (const LabelCase& c : {LabelCase{"label_commstatus", {236, 4, 121, 17}, kLightGreen},
                             LabelCase{"label_hex", {4, 44, 353, 17}, QColor(255, 255, 255)},
                             LabelCase{"label_status", {4, 108, 353, 17}, QColor(255, 255, 192)}}) {
    QLabel* label = Label(c.name);
    EXPECT_EQ(label->geometry(), c.geometry) << c.name;
    EXPECT_EQ(Back(label), c.back) << c.name;
    EXPECT_TRUE(label->autoFillBackground()) << c.name;
    EXPECT_EQ(label->frameShape(), QFrame::Box) << c.name;
    EXPECT_EQ(label->frameShadow(), QFrame::Plain) << c.name;
    EXPECT_EQ(label->lineWidth(), 1) << c.name;
    EXPECT_EQ(label->alignment(), Qt::AlignCenter) << c.name;
    EXPECT_EQ(label->textFormat(), Qt::PlainText) << c.name;  // file names are not markup
    EXPECT_TRUE(label->text().isEmpty()) << c.name;
  }
  struct ButtonCase {
    const char* name;
    const char* caption;
    QRect geometry;
  };
  for (const ButtonCase& c : {ButtonCase{"Command1", "Open HEX File", {4, 16, 117, 25}},
                              ButtonCase{"Command2", "Download HEX File", {120, 72, 117, 25}}}) {
    EXPECT_EQ(Button(c.name)->text(), c.caption);
    EXPECT_EQ(Button(c.name)->geometry(), c.geometry) << c.name;
    EXPECT_TRUE(Button(c.name)->isEnabled()) << c.name;
  }
  EXPECT_EQ(Menu()->title(), "Options");
  EXPECT_EQ(PortItem()->text(), "Change Serial Port Number");
  EXPECT_TRUE(Window().menuBar()->actions().contains(Menu()->menuAction()));
  EXPECT_TRUE(Menu()->actions().contains(PortItem()));
}

TEST_F(WindowTest, ClientAreaIsFixedColouredAndCentred) {
  ProbedForm& window = Loaded();
  QWidget* client = window.centralWidget();
  EXPECT_EQ(client->size(), QSize(363, 132));
  EXPECT_EQ(client->y(), window.menuBar()->height());
  EXPECT_EQ(Back(client), QColor(0xD7, 0xE6, 0xCA));
  EXPECT_EQ(window.minimumSize(), window.maximumSize());
  EXPECT_EQ(window.height(), 132 + window.menuBar()->height());

  const QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
  const QPoint offset = window.frameGeometry().center() - screenCentre;
  EXPECT_LE(offset.manhattanLength(), 2);
}

TEST_F(WindowTest, TabOrderStartsAtOpenThenDownload) {
  ProbedForm& window = Loaded();
  EXPECT_EQ(window.focusWidget(), Button("Command1"));
  EXPECT_EQ(NextTabStop(Button("Command1")), Button("Command2"));
  EXPECT_EQ(NextTabStop(Button("Command2")), Button("Command1"));
  for (const char* name : {"label_commstatus", "label_hex", "label_status"}) {
    EXPECT_EQ(Label(name)->focusPolicy(), Qt::NoFocus) << name;
  }
}

TEST_F(WindowTest, CaptionNamesTheModel) {
  struct Case {
    const char* config;
    const char* userConfig;  // the user's own config.txt, nullptr for none
    const char* caption;
  };
  const std::string userConfig = userDirs.dir().path() + "/Software/Quorvel Zentrel/config.txt";
  for (const Case& c : {Case{"model:demo1\n", nullptr, "Quorvel Zentrel - DEMO1"},
                        Case{"Model:DEMO1\nflash:32768\n", nullptr, "Quorvel Zentrel - "},
                        Case{"model:a[*]b[*][*]\n", nullptr, "Quorvel Zentrel - A[*]B[*][*]"},
                        Case{"model:demo1\n", "model:mine\n", "Quorvel Zentrel - MINE"}}) {
    form.reset();
    dir.write("config.txt", c.config);
    if (c.userConfig != nullptr) {
      std::filesystem::create_directories(std::filesystem::path(userConfig).parent_path());
      userDirs.dir().write("Software/Quorvel Zentrel/config.txt", c.userConfig);
    }
    EXPECT_EQ(Window().windowTitle(), "Quorvel Zentrel");
    ASSERT_TRUE(Window().Load());
    // What the window system is given, after Qt's placeholder handling.
    EXPECT_EQ(Window().windowHandle()->title().toStdString(), c.caption);
  }
}

TEST_F(WindowTest, LoadSequenceRunsInOrder) {
  // What the window shows when the port is first opened tells which steps ran before.
  struct Seen {
    bool visible;
    QString caption, status;
    std::string lastPath;
    int linkState;
  };
  std::vector<Seen> seen;
  state.LinkState = 1;
  line.onOpen = [&] {
    seen.push_back({Window().isVisible(), Window().windowTitle(), Label("label_status")->text(),
                    state.LastPath, state.LinkState});
  };
  ASSERT_TRUE(Window().Load());

  ASSERT_EQ(seen.size(), 1u);  // port 2 opened: no scan
  EXPECT_TRUE(seen[0].visible);
  EXPECT_EQ(seen[0].caption, "Quorvel Zentrel - DEMO1");
  EXPECT_EQ(seen[0].status, "Waiting for signal from bootloader...");
  EXPECT_EQ(seen[0].lastPath, state.AppDir);
  EXPECT_EQ(seen[0].linkState, 0);
  EXPECT_EQ(line.opens, std::vector<std::string>{"2 19200,n,8,1"});
  EXPECT_EQ(settings.writes.front(), "Last Path=" + state.AppDir);
  EXPECT_EQ(Label("label_commstatus")->text(), "Serial port 2 ready");
  EXPECT_NE(Label("label_commstatus")->toolTip().indexOf("/dev/fake2"), -1);  // the device
  EXPECT_EQ(state.Device.FlashSize, 32768);
}

TEST_F(WindowTest, MissingConfigurationStopsWithThePath) {
  std::remove(dir.file("config.txt").c_str());
  EXPECT_FALSE(Window().Load());
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_NE(dialogs.messages[0].find(dir.file("config.txt")), std::string::npos)
      << dialogs.messages[0];
  EXPECT_TRUE(line.opens.empty());
  EXPECT_EQ(Window().windowTitle(), "Quorvel Zentrel");
}

// An installed copy reads config.txt through a link into /etc: the message
// names the file that is missing, not the link.
TEST_F(WindowTest, MissingConfigurationBehindALinkNamesTheRealFile) {
  std::remove(dir.file("config.txt").c_str());
  std::filesystem::create_symlink(dir.file("etc-config.txt"), dir.file("config.txt"));
  EXPECT_FALSE(Window().Load());
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_NE(dialogs.messages[0].find(dir.file("etc-config.txt") + " was not found"), std::string::npos)
      << dialogs.messages[0];
}

TEST_F(WindowTest, DisableThenEnableLeavesEveryCommandEnabled) {
  ProbedForm& window = Loaded();
  auto states = [&] {
    return std::vector<bool>{Button("Command1")->isEnabled(), Button("Command2")->isEnabled(),
                             Menu()->isEnabled(), Menu()->menuAction()->isEnabled()};
  };
  Button("Command2")->setEnabled(false);
  window.DisableControls();
  EXPECT_EQ(states(), std::vector<bool>(4, false));
  window.DisableControls();
  window.EnableControls();
  EXPECT_EQ(states(), std::vector<bool>(4, true));
}

TEST_F(WindowTest, OpeningAFileReportsItWithCommandsDisabled) {
  Loaded();
  std::vector<bool> enabledDuringMessage;
  dialogs.onMessage = [&] {
    enabledDuringMessage = {Button("Command1")->isEnabled(), Button("Command2")->isEnabled(),
                            Menu()->isEnabled()};
  };
  OpenFile(SourcePath("tests/app/data/demo.hex"));

  EXPECT_EQ(dialogs.lastFileTitle, "Select Program File");
  EXPECT_EQ(dialogs.lastFileInitialDir, state.AppDir);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0], "Operation completed.\r\nTotal 200 (.195K) program bytes loaded.");
  EXPECT_EQ(enabledDuringMessage, std::vector<bool>(3, false));
  EXPECT_TRUE(Button("Command1")->isEnabled() && Button("Command2")->isEnabled() &&
              Menu()->isEnabled());
  EXPECT_EQ(Label("label_hex")->text(), "demo.hex");
  EXPECT_EQ(state.LastPath, SourcePath("tests/app/data/"));
  EXPECT_EQ(*settings.Find("Last Path"), state.LastPath);
}

TEST_F(WindowTest, FaultyFileLeavesABlankImage) {
  Loaded();
  OpenInTurn({{"good.hex", ":040000001122334452\r\n:00000001FF\r\n"},
              {"bad.hex", ":040000001122334452\r\n:0400040011223344FF\r\n:00000001FF\r\n"}});

  ASSERT_EQ(dialogs.messages.size(), 2u);
  EXPECT_NE(dialogs.messages[1].find("Line number 2"), std::string::npos) << dialogs.messages[1];
  EXPECT_EQ(Label("label_hex")->text(), "");
  EXPECT_EQ(state.ProgramBytes, 0);
  ASSERT_EQ(state.FlashImage.size(), 32768u);
  EXPECT_EQ(std::count(state.FlashImage.begin(), state.FlashImage.end(), 0xFF), 32768);
  EXPECT_TRUE(Button("Command1")->isEnabled());
}

TEST_F(WindowTest, SecondFileLeavesNothingOfTheFirst) {
  Loaded();
  OpenInTurn({{"high.hex", ":10010000A0A1A2A3A4A5A6A7A8A9AAABACADAEAF77\n:00000001FF\n"},
              {"low.hex", ":1000000011111111111111111111111111111111E0\n:00000001FF\n"}});

  EXPECT_EQ(Label("label_hex")->text(), "low.hex");
  EXPECT_EQ(state.ProgramBytes, 16);
  EXPECT_EQ(state.FlashImage[0], 0x11);
  EXPECT_EQ(state.FlashImage[0x100], 0xFF);
}

TEST_F(WindowTest, DroppedFileLoadsAsTheOpenCommandWould) {
  Loaded();
  const std::string demo = SourcePath("tests/app/data/demo.hex");
  struct Case {
    QList<QUrl> urls;
    bool accepted;
  };
  const Case cases[] = {
      {{QUrl("https://example.invalid/demo.hex")}, false},
      {{QUrl::fromLocalFile(QString::fromStdString(demo)), QUrl::fromLocalFile("/tmp/other.hex")}, false},
      {{QUrl::fromLocalFile(QString::fromStdString(demo))}, true},
  };
  for (const Case& c : cases) {
    QMimeData data;
    data.setUrls(c.urls);
    const QPoint at = Window().rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&Window(), &enter);
    EXPECT_EQ(enter.isAccepted(), c.accepted) << c.urls.front().toString().toStdString();
    if (!c.accepted) continue;
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&Window(), &drop);
    ASSERT_TRUE(RunEventsUntil([&] { return !dialogs.messages.empty(); }, 10000));
  }
  EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Operation completed.\r\nTotal 200 (.195K) program bytes loaded."});
  EXPECT_EQ(Label("label_hex")->text(), "demo.hex");
  EXPECT_EQ(state.LastPath, SourcePath("tests/app/data/"));
  EXPECT_EQ(*settings.Find("Last Path"), state.LastPath);
  EXPECT_TRUE(dialogs.lastFileTitle.empty());  // no dialog was needed
}

// Two starts at once, while a box is open and a transfer runs: the files
// wait, then each loads whole, in turn, and the label names the file whose
// image is loaded, though both have the same name. What is no path is
// dropped unread; out of descriptors, the server waits instead of closing.
TEST_F(WindowTest, FilesHandedOverWaitAndLoadInTurn) {
  Loaded();
  HandOverServer server([this](const std::string& path) { Window().OpenFromOutside(path); });
  std::string why;
  ASSERT_TRUE(server.Listen(dir.file("socket"), why)) << why;
  QLocalSocket tooLong;
  tooLong.connectToServer(QString::fromStdString(dir.file("socket")));
  tooLong.write(QByteArray(1 << 20, '/'));
  EXPECT_TRUE(QTest::qWaitFor([&] { return tooLong.state() == QLocalSocket::UnconnectedState; }, 10000));
  for (const char* folder : {"A", "B"}) std::filesystem::create_directories(dir.file(folder));
  dir.write("A/app.hex", HexText(std::string(32, '\xAA')));
  dir.write("B/app.hex", HexText(std::string(16, '\xBB')));
  QMessageBox box;
  box.setWindowModality(Qt::ApplicationModal);
  box.show();
  state.TransferInProgress = true;
  EXPECT_EQ(HandToRunningCopy(dir.file("socket"), dir.file("A/app.hex")), 0);
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  const rlimit lowered{512, limit.rlim_max};
  setrlimit(RLIMIT_NOFILE, &lowered);
  std::vector<int> filler;
  for (int fd; (fd = dup(0)) >= 0;) filler.push_back(fd);
  close(filler.back());  // one for the caller, none for the server
  filler.pop_back();
  EXPECT_EQ(HandToRunningCopy(dir.file("socket"), dir.file("B/app.hex")), 0);
  RunEventsUntil([] { return false; }, 300);
  for (const int fd : filler) close(fd);
  setrlimit(RLIMIT_NOFILE, &limit);
  state.TransferInProgress = false;
  RunEventsUntil([] { return false; }, 300);
  EXPECT_TRUE(dialogs.messages.empty());  // the box is still open
  box.close();
  ASSERT_TRUE(RunEventsUntil([&] { return dialogs.messages.size() == 2; }, 30000));
  EXPECT_EQ(dialogs.messages[0], "Operation completed.\r\nTotal 32 (.031K) program bytes loaded.");
  EXPECT_EQ(Label("label_hex")->text(), "app.hex");
  EXPECT_EQ(state.LastPath, dir.file("B/"));
  EXPECT_EQ(state.FlashImage[0], 0xBB);
}

// During a transfer, closing asks first; Cancel leaves the transfer running.
TEST_F(WindowTest, CtrlQClosesTheWindowAndAsksFirstDuringATransfer) {
  ProbedForm& window = Loaded();
  QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
  EXPECT_FALSE(window.isVisible());
  window.show();
  OpenFile(SourcePath("tests/app/data/demo.hex"));
  line.Receive("U");
  Button("Command2")->click();
  ASSERT_TRUE(state.TransferInProgress);
  QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(state.TransferInProgress);
  ASSERT_EQ(dialogs.questions.size(), 1u);
  EXPECT_NE(dialogs.questions[0].find("byte 1/"), std::string::npos) << dialogs.questions[0];
  dialogs.confirmAnswers = {true};
  EXPECT_TRUE(window.close());
  EXPECT_FALSE(window.isVisible());
}

TEST_F(WindowTest, CancelledOpenChangesNothing) {
  Loaded();
  OpenFile(SourcePath("tests/app/data/demo.hex"));
  const auto image = state.FlashImage;
  const auto writes = settings.writes;
  dialogs.messages.clear();

  OpenFile("");
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_EQ(state.LastPath, SourcePath("tests/app/data/"));
  EXPECT_EQ(settings.writes, writes);
  EXPECT_EQ(state.FlashImage, image);
  EXPECT_EQ(Label("label_hex")->text(), "demo.hex");
}

TEST_F(WindowTest, PortMenuChoosesReopensOrRefuses) {
  struct Case {
    const char* answer;
    std::vector<std::string> messages;
    const char* stored;
    const char* reopened;
    const char* caption;
    QColor colour;
  };
  const std::vector<Case> cases = {
      {"03", {"Wrong entry!"}, "2", "2 19200,n,8,1", "Serial port 2 ready", kLightGreen},
      {"", {}, "2", "2 19200,n,8,1", "Serial port 2 ready", kLightGreen},
      {"12", {}, "12", "12 19200,n,8,1", "Serial port 12 error!", kLightRed},
  };
  for (const Case& c : cases) {
    form.reset();
    settings = MemorySettings();
    dialogs.messages.clear();
    Loaded();
    line.opens.clear();
    dialogs.inputAnswers = {c.answer};
    PortItem()->trigger();

    SCOPED_TRACE(c.answer);
    EXPECT_EQ(dialogs.inputPrompts.back(), "Please select bootloader Serial Port Number [1-12].");
    EXPECT_EQ(dialogs.inputInitialTexts.back(), "2");
    EXPECT_EQ(dialogs.messages, c.messages);
    EXPECT_EQ(line.opens, std::vector<std::string>{c.reopened});  // no scan after a choice
    EXPECT_EQ(Label("label_commstatus")->text(), c.caption);
    EXPECT_EQ(Back(Label("label_commstatus")), c.colour);
    EXPECT_EQ(*settings.Find("Serial Port Number"), c.stored);
  }
}

// Opening the port may reset the board: a "ready" from before cannot be
// vouched for, so the link waits for the new signal and answers it.
TEST_F(WindowTest, ReopeningThePortWaitsForTheBoardsSignalAgain) {
  ProbedForm& window = Loaded();
  OpenFile(SourcePath("tests/app/data/demo.hex"));
  line.Receive("U");
  ASSERT_EQ(state.LinkState, 1);
  line.resetOnOpen = true;
  dialogs.inputAnswers = {"2"};
  PortItem()->trigger();
  EXPECT_EQ(state.LinkState, 0);
  EXPECT_EQ(Label("label_status")->text(), "Waiting for signal from bootloader...");

  ASSERT_TRUE(RunEventsUntil([&] { return state.LinkState == 1; }));
  line.echo = true;
  window.statuses.clear();
  Button("Command2")->click();
  ASSERT_TRUE(RunEventsUntil([&] { return state.LinkState == 0; }));
  EXPECT_EQ(window.statuses, CompletedTransferTexts(state.FrameLength));
}

TEST_F(WindowTest, ReceivedBytesAndLineFailureReachTheLink) {
  Loaded();
  line.Receive("xyU");
  EXPECT_EQ(line.written, std::vector<uint8_t>{0x55});
  EXPECT_EQ(state.LinkState, 1);
  EXPECT_EQ(Label("label_status")->text(), "Bootloader ready for program download...");

  line.Fail("device gone");
  EXPECT_EQ(Label("label_commstatus")->text(), "Serial port 2 error!");
  EXPECT_EQ(Back(Label("label_commstatus")), kLightRed);
  EXPECT_NE(Label("label_commstatus")->toolTip().indexOf("device gone"), -1);
}

TEST_F(WindowTest, PortInErrorIsReopenedOnlyWhenItsDeviceComesBack) {
  Loaded();
  line.usablePorts.clear();
  line.Fail("device gone");
  line.opens.clear();
  // Missing for a while: nothing is tried.
  QTest::qWait(1500);  // more than one look for the device
  EXPECT_TRUE(line.opens.empty());
  EXPECT_EQ(Label("label_commstatus")->text(), "Serial port 2 error!");

  line.usablePorts.insert(2);
  ASSERT_TRUE(RunEventsUntil([&] { return Label("label_commstatus")->text() == "Serial port 2 ready"; }, 10000));
  EXPECT_EQ(line.opens, std::vector<std::string>{"2 19200,n,8,1"});
  EXPECT_EQ(state.LinkState, 0);
  EXPECT_EQ(Label("label_status")->text(), "Waiting for signal from bootloader...");

  // A port that fails while its device stays is not retried again and again.
  ProbedForm& window = Window();
  line.opens.clear();
  window.SetCommStatus("Serial port 2 error!", kColourPortError, "busy");
  line.Close();
  QTest::qWait(1500);  // more than one look for the device
  EXPECT_TRUE(line.opens.empty());
}

TEST_F(WindowTest, DownloadRunsThroughTheEchoes) {
  ProbedForm& window = Loaded();
  OpenFile(SourcePath("tests/app/data/demo.hex"));
  line.Receive("U");
  line.echo = true;
  window.statuses.clear();
  Button("Command2")->click();
  ASSERT_TRUE(RunEventsUntil([&] { return state.LinkState == 0; }));

  ASSERT_GT(state.FrameLength, 200);
  EXPECT_EQ(window.statuses, CompletedTransferTexts(state.FrameLength));
  EXPECT_EQ(window.pauses, (std::vector<int>{1000, 2000}));
  std::vector<uint8_t> sent{0x55};
  sent.insert(sent.end(), state.DownloadFrame.begin() + 1, state.DownloadFrame.end());
  EXPECT_EQ(line.written, sent);
  // The outcome stays in the tooltip after the label has moved on.
  const QString tip = Label("label_status")->toolTip();
  EXPECT_NE(tip.indexOf("Download completed: all " + QString::number(state.FrameLength) + " bytes echoed."), -1) << tip.toStdString();
  EXPECT_NE(tip.indexOf(QString::fromStdString(SourcePath("tests/app/data/demo.hex"))), -1) << tip.toStdString();
  EXPECT_NE(tip.indexOf(QDate::currentDate().toString("yyyy-MM-dd")), -1) << tip.toStdString();
}

TEST_F(WindowTest, WrongEchoStopsTheDownload) {
  ProbedForm& window = Loaded();
  OpenFile(SourcePath("tests/app/data/demo.hex"));
  line.Receive("U");
  line.echo = true;
  line.corruptEcho = 6;  // the answer to the signal, then slots 1..5
  window.statuses.clear();
  Button("Command2")->click();
  ASSERT_TRUE(RunEventsUntil([&] { return state.LinkState == 0; }));

  const std::string n = std::to_string(state.FrameLength);
  ASSERT_EQ(window.statuses.size(), 7u);
  EXPECT_EQ(window.statuses[4], "Downloaded byte 5/" + n);
  EXPECT_EQ(window.statuses[5], "ERROR downloading byte 5/" + n);
  EXPECT_EQ(window.statuses[6], "Waiting for signal from bootloader...");
  EXPECT_EQ(window.pauses, std::vector<int>{2000});
  EXPECT_EQ(line.written.size(), 6u);
  EXPECT_EQ(state.FrameIndex, 5);
  char bytes[64];
  std::snprintf(bytes, sizeof bytes, ": sent 0x%02X, the bootloader echoed 0x%02X", state.DownloadFrame[5],
                state.DownloadFrame[5] ^ 0xFF);
  const QString tip = Label("label_status")->toolTip();
  EXPECT_NE(tip.indexOf(QString::fromStdString("Download failed at byte 5/" + n + bytes)), -1)
      << tip.toStdString();
  // An inverted echo is the bootloader's refusal, and slot 5 is the jump.
  EXPECT_NE(tip.indexOf("refused it: the jump at 0..7"), -1) << tip.toStdString();
  EXPECT_NE(tip.indexOf("demo.hex"), -1) << tip.toStdString();
}

TEST_F(WindowTest, StatusTextIsExactButPaintedSparingly) {
  ProbedForm& window = Loaded();
  QTest::qWait(50);
  PaintProbe probe(Label("label_status"));
  constexpr int kUpdates = 2000;
  for (int k = 1; k <= kUpdates; ++k) {
    const std::string text = "Downloaded byte " + std::to_string(k) + "/2000";
    window.Form1::SetStatus(text);
    window.PumpEvents();
    ASSERT_EQ(Label("label_status")->text().toStdString(), text);
  }
  EXPECT_LT(probe.painted.size(), kUpdates / 2u);

  // A text that stays through a pause is on the screen before the pause.
  window.Form1::SetStatus("ERROR downloading byte 5/2000");
  window.PumpEvents();
  window.Form1::Pause(0);
  ASSERT_FALSE(probe.painted.empty());
  EXPECT_EQ(probe.painted.back(), "ERROR downloading byte 5/2000");

  // A text set when the bytes stop coming is painted without a pause too.
  window.Form1::SetStatus("Bootloader ready for program download...");
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return probe.painted.back() == "Bootloader ready for program download..."; }, 5000));
}

TEST(LocalFileName, FindsNamesThatAreNotUtf8AsTheyAreOnDisk) {
  TempDir dir;
  const std::string folder = dir.file("caf\xE9 \xFF");
  std::filesystem::create_directories(folder);
  const std::string paths[] = {
      folder + "/\xE9t\xE9.hex", dir.file("caf\xC3\xA9.hex"), dir.file("plain.hex"),
      dir.file("not there \xFF.hex"),
  };
  for (const std::string& path : paths) {
    if (path.find("not there") == std::string::npos) dir.write(path.substr(dir.path().size() + 1), "");
    // As the dialog shows and returns it.
    const QString shown = QFile::decodeName(path.c_str());
    EXPECT_EQ(LocalFileName(shown), path.find("not there") == std::string::npos
                                        ? path
                                        : QFile::encodeName(shown).toStdString());
  }
  EXPECT_EQ(LocalFileName(""), "");
}

TEST(QtFileFilter, ConvertsPairsToQtEntries) {
  struct Case {
    const char* filter;
    const char* qt;
  };
  for (const Case& c : {
           Case{"Intel HEX files (*.hex)|*.hex|All files (*.*)|*.*",
                "Intel HEX files (*.hex);;All files (*.*)"},
           Case{"Programs|*.hex;*.h86", "Programs (*.hex *.h86)"},
           Case{"Only a name", "Only a name"},
       }) {
    EXPECT_EQ(QtFileFilter(c.filter), c.qt) << c.filter;
  }
}
