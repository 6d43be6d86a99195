#include "RunReport.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QJsonDocument>
#include <cerrno>
#include <cstring>

#include "ZentrelVersion.h"

namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

std::string Seconds(qint64 ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s", static_cast<double>(ms) / 1000.0);
  return text;
}

const char* ResultName(const Attempt& attempt) {
  if (attempt.interrupted) return "interrupted";
  if (attempt.Passed()) return "passed";
  return attempt.Refused() ? "refused" : "failed";
}

QJsonValue TextOrNull(const std::string& text) { return text.empty() ? QJsonValue() : QJsonValue(Text(text)); }
QJsonValue NameOrNull(const std::string& name) { return name.empty() ? QJsonValue() : QJsonValue(EscapedName(name)); }

}  // namespace

std::string RecordTime() { return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString(); }

QJsonObject AttemptRecord(const Attempt& attempt, const RunFacts& facts, const std::string& station,
                          const std::string& time) {
  const std::optional<FailingByte>& failure = attempt.failure;
  // A unit number makes each attempt's frame its own.
  const std::string& frameSha256 = attempt.frameSha256.empty() ? facts.frameSha256 : attempt.frameSha256;
  return {{"format", kJsonFormat},
          {"time", Text(time)},
          {"station", TextOrNull(station)},
          {"slot", NameOrNull(attempt.name)},
          {"port", NameOrNull(attempt.name)},
          {"device", NameOrNull(attempt.device)},
          {"usbSerial", TextOrNull(attempt.usbSerial)},
          {"serialNumber", attempt.serialNumber ? QJsonValue(static_cast<qint64>(*attempt.serialNumber)) : QJsonValue()},
          {"round", attempt.round > 0 ? QJsonValue(attempt.round) : QJsonValue()},
          {"hexFile", EscapedName(facts.hexPath)},
          {"hexSha256", TextOrNull(facts.hexSha256)},
          {"frameLength", facts.frameLength > 0 ? QJsonValue(facts.frameLength) : QJsonValue()},
          {"frameSha256", TextOrNull(frameSha256)},
          {"notProgrammed", NotProgrammedRecord(facts.notProgrammed)},
          {"result", ResultName(attempt)},
          {"reason", TextOrNull(attempt.reason)},
          {"message", Text(attempt.message)},
          {"bytes", attempt.done},
          {"failingByte", failure ? QJsonValue(failure->slot) : QJsonValue()},
          {"sent", failure ? QJsonValue(failure->sent) : QJsonValue()},
          {"echo", failure && failure->echo ? QJsonValue(*failure->echo) : QJsonValue()},
          {"durationMs", attempt.durationMs},
          {"version", kZentrelVersion}};
}

std::string ResultLine(const Attempt& attempt, bool loop, const std::string& station) {
  std::string line = station.empty() ? attempt.name : "[" + station + "] " + attempt.name;
  std::string where = attempt.device != attempt.name ? attempt.device : "";
  if (!attempt.usbSerial.empty()) where += (where.empty() ? "" : ", ") + std::string("USB serial ") + attempt.usbSerial;
  if (!where.empty()) line += " (" + where + ")";
  if (loop) line += " round " + std::to_string(attempt.round);
  line += ": " + attempt.message;
  if (attempt.total > 0) {
    line += "  " + std::to_string(attempt.done) + "/" + std::to_string(attempt.total) + " bytes  " +
            Seconds(attempt.durationMs);
  }
  if (attempt.serialNumber) line += "  serial number " + std::to_string(*attempt.serialNumber);
  return line;
}

AttemptLog::~AttemptLog() {
  if (fd_ >= 0) close(fd_);
}

bool AttemptLog::Open(const std::string& path, std::string& error) {
  // Not blocking: a FIFO without a reader would hold the run before it began.
  fd_ = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
  struct stat info {};
  if (fd_ < 0) {
    error = errno == ENXIO ? "it is not a regular file" : std::strerror(errno);
  } else if (fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    error = "it is not a regular file";
    close(fd_);
    fd_ = -1;
  }
  return fd_ >= 0;
}

bool AttemptLog::Append(const QJsonObject& record, std::string& error) {
  if (fd_ < 0) return true;
  const QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n';
  // Held while the record goes in and, if it tore, is taken back: another
  // run's record on the same log is never cut.
  (void)flock(fd_, LOCK_EX);
  const int failure = Write(line);
  (void)flock(fd_, LOCK_UN);
  if (failure == 0) return true;
  error = std::strerror(failure);
  return false;
}

// 0, or the errno of the failure.
int AttemptLog::Write(const QByteArray& line) {
  const auto size = static_cast<size_t>(line.size());
  // One write a record where it can be: with O_APPEND, lines of two runs on
  // one log never mix.
  size_t done = 0;
  int failure = 0;
  while (done < size && failure == 0) {
    const ssize_t wrote = write(fd_, line.constData() + done, size - done);
    if (wrote > 0) done += static_cast<size_t>(wrote);
    if (wrote == 0 || (wrote < 0 && errno != EINTR)) failure = wrote < 0 ? errno : ENOSPC;
  }
  if (failure == 0 && fdatasync(fd_) != 0) failure = errno;
  if (failure == 0) return 0;
  // A torn line would spoil the next one too: what went in is taken back,
  // unless another run has appended behind it since.
  const off_t end = lseek(fd_, 0, SEEK_CUR);
  struct stat info {};
  if (done > 0 && end >= static_cast<off_t>(done) && fstat(fd_, &info) == 0 && info.st_size == end) {
    (void)ftruncate(fd_, end - static_cast<off_t>(done));
  }
  return failure;
}

void RunReport::Attempted(const Attempt& attempt) {
  ++(attempt.interrupted ? interrupted_ : attempt.Passed() ? passed_ : failed_);
  if (attempt.last && !attempt.Passed() && firstFailure_ == kExitSuccess) firstFailure_ = attempt.exitCode;
  const QJsonObject record = AttemptRecord(attempt, facts_, options_.station, RecordTime());
  std::string why;
  display_.Clear();
  if (!log_.Append(record, why)) {
    logIncomplete_ = true;
    PrintLine(stderr, "zentrel-cli download: the log is incomplete: the record of " + attempt.name + " (attempt " +
                          std::to_string(attempt.round) + ") could not be written: " + why);
  }
  // Without --loop only a board's last attempt is its result.
  if (!options_.loop && !attempt.last) {
    Note("attempt " + std::to_string(attempt.round) + " failed on " + attempt.name + ": " + attempt.message +
         "; trying again");
    return;
  }
  if (options_.json) {
    PrintJson(record);
  } else if (!options_.quiet || !attempt.Passed()) {
    std::string line = ResultLine(attempt, options_.loop, options_.station);
    if (options_.loop && !attempt.interrupted) {  // the totals follow at once
      line += "  (passed " + std::to_string(passed_) + ", failed " + std::to_string(failed_) + ")";
    }
    PrintLine(stdout, line);
  }
}

void RunReport::Note(const std::string& text) {
  if (options_.quiet) return;
  display_.Clear();
  PrintLine(stderr, text);
}

void RunReport::Summary() {
  display_.Clear();
  const int attempts = passed_ + failed_ + interrupted_;
  if (options_.json) {
    PrintJson({{"format", kJsonFormat},
               {"result", "summary"},
               {"attempts", attempts},
               {"passed", passed_},
               {"failed", failed_},
               {"interrupted", interrupted_}});
  } else {
    PrintLine(stdout, "Summary: " + std::to_string(attempts) + " attempts, " + std::to_string(passed_) + " passed, " +
                          std::to_string(failed_) + " failed, " + std::to_string(interrupted_) + " interrupted");
  }
}
