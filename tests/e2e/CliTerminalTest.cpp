// zentrel-cli download as a person sees it: on a real pseudo-terminal of 60
// columns, read back as a terminal would show it.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QStringList>
#include <algorithm>
#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "common/HexText.h"
#include "common/Process.h"
#include "common/TestSupport.h"

namespace {

constexpr size_t kColumns = 60;
constexpr size_t kRows = 24;

// The few controls the progress display uses, with autowrap at the last
// column, as a VT100 shows them.
class Screen {
 public:
  void Feed(const std::string& bytes) {
    for (char c : bytes) Put(c);
  }
  // Rows joined where the terminal wrapped them.
  std::string Text() const {
    std::string text;
    for (size_t row = 0; row < rows_.size(); ++row) text += rows_[row] + (wrapped_[row] ? "" : "\n");
    return text;
  }
  // How many rows hold a progress line: a bar, or a board that waits.
  size_t ProgressRows() const {
    size_t count = 0;
    for (const std::string& row : rows_) {
      const bool bar = row.find('[') != std::string::npos && row.find(" bytes") != std::string::npos;
      if (bar || row.find("waiting for the signal") != std::string::npos) ++count;
    }
    return count;
  }
  size_t maxProgressRowsAfterRedraw = 0;
  bool wrappedProgress = false;

 private:
  void Put(char c) {
    if (!escape_.empty()) return Escape(c);
    switch (c) {
      case '\x1b':
        escape_ = "\x1b";
        return;
      case '\r':
        column_ = 0;
        return;
      case '\n':
        inProgressLine_ = false;
        MoveTo(row_ + 1);
        return;
      default:
        break;
    }
    if (column_ == kColumns) {  // the pending wrap
      wrapped_[row_] = true;
      wrappedProgress = wrappedProgress || inProgressLine_;
      MoveTo(row_ + 1);
      column_ = 0;
    }
    std::string& line = rows_[row_];
    if (line.size() <= column_) line.resize(column_ + 1, ' ');
    line[column_++] = c;
  }
  void Escape(char c) {
    escape_ += c;
    if (escape_.size() == 2 || std::isdigit(static_cast<unsigned char>(c)) || c == ';') return;
    const int n = escape_.size() > 3 ? std::stoi(escape_.substr(2)) : 1;
    if (c == 'A') {
      const size_t top = rows_.size() > kRows ? rows_.size() - kRows : 0;
      row_ = row_ >= top + static_cast<size_t>(n) ? row_ - static_cast<size_t>(n) : top;
    } else if (c == 'K' && n == 2) {
      inProgressLine_ = true;  // the display clears a row before each of its lines
      rows_[row_].clear();
      wrapped_[row_] = false;
    } else if (c == 'J') {
      rows_[row_].resize(std::min(rows_[row_].size(), column_));
      rows_.resize(row_ + 1);
      wrapped_.resize(row_ + 1);
    }
    escape_.clear();
  }
  void MoveTo(size_t row) {
    row_ = row;
    if (rows_.size() <= row_) {
      rows_.resize(row_ + 1);
      wrapped_.resize(row_ + 1, false);
    }
  }

  std::vector<std::string> rows_{1};
  std::vector<bool> wrapped_{false};
  size_t row_ = 0, column_ = 0;
  std::string escape_;
  bool inProgressLine_ = false;
};

// Runs zentrel-cli on a terminal of kColumns x kRows; what it printed and how it ended.
int RunOnTerminal(const QStringList& args, Screen& screen) {
  winsize size{};
  size.ws_col = kColumns;
  size.ws_row = kRows;
  int master = -1;
  const pid_t child = forkpty(&master, nullptr, nullptr, &size);
  if (child == 0) {
    std::vector<std::string> words{BinPath("zentrel-cli")};
    for (const QString& arg : args) words.push_back(arg.toStdString());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  char buffer[4096];
  for (;;) {
    pollfd entry{master, POLLIN, 0};
    if (poll(&entry, 1, 60000) <= 0) break;
    const ssize_t count = read(master, buffer, sizeof buffer);
    if (count <= 0) break;
    screen.Feed(std::string(buffer, static_cast<size_t>(count)));
    screen.maxProgressRowsAfterRedraw = std::max(screen.maxProgressRowsAfterRedraw, screen.ProgressRows());
  }
  close(master);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(CliTerminal, ProgressOfFourBoardsFitsSixtyColumnsAndLeavesNothingBehind) {
  ScopedUserDirs userDirs;
  TempDir dir;
  dir.write("config.txt", "model:BIG\nflash:65536\neeprom:256\neraseblock:64\nprogramblock:8\nbootloader:00FC00\n");
  std::string image(3000, '\0');
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7);
  dir.write("image.hex", HexText(image));
  QStringList args{"download", Q(dir.file("image.hex")), "--config", Q(dir.file("config.txt"))};
  std::vector<std::unique_ptr<SimulatedBoard>> sims;
  for (int board = 0; board < 4; ++board) {
    // Names as long as /dev/serial/by-id gives, longer than the terminal leaves room for.
    const std::string link = dir.file("usb-FTDI_FT232R_USB_UART_A90" + std::to_string(board) + "-if00-port0");
    ASSERT_GE(link.size(), 40u);
    sims.push_back(std::make_unique<SimulatedBoard>(
        QStringList{"--once", "--baud", "57600", "--link", Q(link), "--config", Q(dir.file("config.txt"))}));
    args << "--device" << Q(link);
  }
  Screen screen;
  EXPECT_EQ(RunOnTerminal(args, screen), 0) << screen.Text();

  const std::string text = screen.Text();
  EXPECT_FALSE(screen.wrappedProgress) << text;
  // Redrawn in place: never more progress rows than boards, none left at the end.
  EXPECT_GT(screen.maxProgressRowsAfterRedraw, 0u) << text;
  EXPECT_LE(screen.maxProgressRowsAfterRedraw, 4u) << text;
  EXPECT_EQ(screen.ProgressRows(), 0u) << text;
  // Each outcome once.
  size_t outcomes = 0;
  for (size_t at = text.find("Download completed!"); at != std::string::npos;
       at = text.find("Download completed!", at + 1)) {
    ++outcomes;
  }
  EXPECT_EQ(outcomes, 4u) << text;
}

}  // namespace
