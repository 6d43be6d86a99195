// The window against the simulated bootloader over a real pseudo-terminal,
// registered as port 2 in a temporary port map.
#include <QAction>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <functional>
#include <memory>
#include <utility>

#include "common/Process.h"
#include "Form1.h"
#include "QtSerialLine.h"
#include "SettingsStore.h"
#include "app/WindowTestSupport.h"
#include "common/Pty.h"

namespace {
class SimWindowTest : public ::testing::Test {
 protected:
  SimWindowTest() {
    appDir.write("config.txt", ReadFile(SourcePath("samples/config.txt")));
    state.AppDir = appDir.path() + "/";
  }
  ~SimWindowTest() override {
    form.reset();
  }

  // Starts the simulator and waits until it has registered its port.
  void StartSim(const QStringList& faults, bool once = true) {
    QStringList args{"--as-port",
                     "2",
                     "--config",
                     QString::fromStdString(SourcePath("samples/config.txt")),
                     "--expect",
                     QString::fromStdString(kSample)};
    if (once) args << "--once";
    sim = std::make_unique<SimulatedBoard>(args + faults);
    const std::string registered = sim->ReadLine();
    ASSERT_EQ(registered.rfind("port COM2", 0), 0u) << registered << sim->Finish(0).err;
  }

  // Loads the window, waits for the bootloader, opens the sample, presses
  // download; midway does what a user might do 100 bytes into the transfer.
  ProbedForm& Download(std::function<void()> midway = {}) {
    form = std::make_unique<ProbedForm>(state, dialogs, settings, line);
    EXPECT_TRUE(form->Load());
    EXPECT_TRUE(RunEventsUntil([&] { return state.LinkState == 1; }));
    dialogs.fileAnswers.push_back(kSample);
    form->findChild<QPushButton*>("Command1")->click();
    EXPECT_EQ(dialogs.messages.size(), 1u);
    form->statuses.clear();
    form->findChild<QPushButton*>("Command2")->click();
    EXPECT_TRUE(RunEventsUntil([&] {
      if (midway && state.FrameIndex > 100) std::exchange(midway, nullptr)();
      return state.LinkState == 0;
    }));
    return *form;
  }

  const std::string kSample = SourcePath("tests/app/data/demo.hex");
  ScopedUserDirs userDirs;
  TempDir appDir;
  AppState state;
  ProbingDialogs dialogs;
  SettingsStore settings;
  QtSerialLine line{SettingsStore::PortMapDirectory()};
  std::unique_ptr<ProbedForm> form;
  std::unique_ptr<SimulatedBoard> sim;
};
}  // namespace

TEST_F(SimWindowTest, DownloadCompletesAndTheSimulatorAgrees) {
  StartSim({});
  ProbedForm& window = Download();

  EXPECT_EQ(window.statuses, CompletedTransferTexts(state.FrameLength));
  const ProcessResult simulator = sim->Finish();
  EXPECT_EQ(simulator.exitCode, 0) << simulator.out << simulator.err;
}

TEST_F(SimWindowTest, WrongEchoNamesTheByteAndWaitsAgain) {
  StartSim({"--corrupt-echo", "7"});
  ProbedForm& window = Download();

  const std::string n = std::to_string(state.FrameLength);
  ASSERT_GE(window.statuses.size(), 3u);
  const std::vector<std::string> tail(window.statuses.end() - 3, window.statuses.end());
  EXPECT_EQ(tail,
            (std::vector<std::string>{"Downloaded byte 7/" + n, "ERROR downloading byte 7/" + n,
                                      "Waiting for signal from bootloader..."}));
  EXPECT_EQ(window.statuses.size(), 9u);
  EXPECT_EQ(state.FrameIndex, 7);
}

// A double-click on "Download HEX File" mid-transfer (two presses) comes
// while echoes are arriving and is ignored; the transfer runs to its end.
TEST_F(SimWindowTest, ADoubleClickDuringATransferLeavesItRunningToTheEnd) {
  StartSim({});
  ProbedForm& window = Download([&] {
    for (int press = 0; press < 2; ++press) QTest::mouseClick(form->findChild<QPushButton*>("Command2"), Qt::LeftButton);
  });
  EXPECT_EQ(window.statuses, CompletedTransferTexts(state.FrameLength));
  EXPECT_EQ(sim->Finish().exitCode, 0);
}

// Options > Change Serial Port Number, the same number, OK: the simulator
// sees its host go and come back and signals anew, as a board that the open
// resets does; the window waits for that signal, answers it and downloads.
TEST_F(SimWindowTest, AReopenedPortIsAnsweredAgainAndTheDownloadCompletes) {
  StartSim({}, false);
  form = std::make_unique<ProbedForm>(state, dialogs, settings, line);
  ASSERT_TRUE(form->Load());
  ASSERT_TRUE(RunEventsUntil([&] { return state.LinkState == 1; }));
  dialogs.onInput = [] { QTest::qWait(300); };  // a user takes a moment to answer
  dialogs.inputAnswers = {"2"};
  form->findChild<QAction*>("menuport")->trigger();
  EXPECT_EQ(state.LinkState, 0);

  ASSERT_TRUE(RunEventsUntil([&] { return state.LinkState == 1; }));
  dialogs.fileAnswers.push_back(kSample);
  form->findChild<QPushButton*>("Command1")->click();
  form->statuses.clear();
  form->findChild<QPushButton*>("Command2")->click();
  ASSERT_TRUE(RunEventsUntil([&] { return state.LinkState == 0; }));
  EXPECT_EQ(form->statuses, CompletedTransferTexts(state.FrameLength));
}

// Ended by a signal, the window lets go of its port as on any exit: the
// device is not left in exclusive mode, nor its lock file behind. On X too,
// where Qt starts a thread of its own that must not take the signal.
TEST(WindowSignalTest, ASignalEndsTheWindowAndFreesItsPort) {
  for (const QString platform : {"offscreen", "xcb"}) {
    SCOPED_TRACE(platform.toStdString());
    ScopedUserDirs userDirs;
    SimulatedBoard sim({"--as-port", "2"});
    ASSERT_EQ(sim.ReadLine().rfind("port COM2", 0), 0u);
    QProcess display, window;
    if (platform == "xcb") {  // a virtual display of its own, its number on stdout
      display.start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp"});
      ASSERT_TRUE(display.waitForReadyRead(30000));
      auto env = QProcessEnvironment::systemEnvironment();
      env.insert("DISPLAY", ":" + QString::fromUtf8(display.readAllStandardOutput()).trimmed());
      window.setProcessEnvironment(env);
    }
    window.start(QString::fromStdString(BinPath("zentrel")), {"-platform", platform});
    // The window answers the signal once it holds the port.
    ASSERT_TRUE(RunEventsUntil([&] { return OpenAsNormalUser(sim.device()) != 0; }, 30000));
    kill(static_cast<pid_t>(window.processId()), SIGTERM);
    ASSERT_TRUE(window.waitForFinished(30000));
    EXPECT_EQ(window.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(window.exitCode(), 143) << window.readAllStandardError().toStdString();
    EXPECT_EQ(OpenAsNormalUser(sim.device()), 0);
    display.terminate();
    display.waitForFinished(10000);
  }
}

// An adapter that is unplugged and plugged back: a pseudo-terminal that
// disappears and a new one that the port map names in its place.
TEST(ReplugWindowTest, DeviceThatComesBackIsReopenedAndTalks) {
  ScopedUserDirs userDirs;
  TempDir appDir;
  appDir.write("config.txt", kDemoConfig);
  AppState state;
  state.AppDir = appDir.path() + "/";
  ProbingDialogs dialogs;
  MemorySettings settings;
  QtSerialLine line{SettingsStore::PortMapDirectory()};
  auto first = std::make_unique<Pty>();
  MapPorts(userDirs.portMapDir(), {{2, first.get()}});
  ProbedForm form(state, dialogs, settings, line);
  ASSERT_TRUE(form.Load());
  QLabel* status = form.findChild<QLabel*>("label_commstatus");
  ASSERT_EQ(status->text(), "Serial port 2 ready");

  first.reset();  // unplugged: the device side and its node are gone
  ASSERT_TRUE(RunEventsUntil([&] { return status->text() == "Serial port 2 error!"; }, 10000));
  Pty second;
  MapPorts(userDirs.portMapDir(), {{2, &second}});
  ASSERT_TRUE(RunEventsUntil([&] { return status->text() == "Serial port 2 ready"; }, 10000));
  EXPECT_NE(status->toolTip().indexOf(QString::fromStdString(second.devicePath())), -1);

  second.Send("U");
  ASSERT_TRUE(RunEventsUntil([&] { return state.LinkState == 1; }, 10000));
  EXPECT_EQ(second.Receive(1), "U");
}
