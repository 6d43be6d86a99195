#include "RunReport.h"

#include <fcntl.h>
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

}  // namespace

std::string RecordTime() { return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString(); }

QJsonObject AttemptRecord(const Attempt& attempt, const RunFacts& facts, const std::string& time) {
  const std::optional<FailingByte>& failure = attempt.failure;
  return {{"format", kJsonFormat},
          {"time", Text(time)},
          {"port", TextOrNull(attempt.name)},
          {"device", TextOrNull(attempt.device)},
          {"round", attempt.round > 0 ? QJsonValue(attempt.round) : QJsonValue()},
          {"hexFile", Text(facts.hexPath)},
          {"hexSha256", TextOrNull(facts.hexSha256)},
          {"frameLength", facts.frameLength > 0 ? QJsonValue(facts.frameLength) : QJsonValue()},
          {"frameSha256", TextOrNull(facts.frameSha256)},
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

std::string ResultLine(const Attempt& attempt, bool loop) {
  std::string line = attempt.name;
  if (!attempt.device.empty() && attempt.device != attempt.name) line += " (" + attempt.device + ")";
  if (loop) line += " round " + std::to_string(attempt.round);
  line += ": " + attempt.message;
  if (attempt.total > 0) {
    line += "  " + std::to_string(attempt.done) + "/" + std::to_string(attempt.total) + " bytes  " +
            Seconds(attempt.durationMs);
  }
  return line;
}

AttemptLog::~AttemptLog() {
  if (fd_ >= 0) close(fd_);
}

bool AttemptLog::Open(const std::string& path, std::string& error) {
  fd_ = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) error = std::strerror(errno);
  return fd_ >= 0;
}

void AttemptLog::Append(const QJsonObject& record) {
  if (fd_ < 0) return;
  const QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n';
  // One write a record: with O_APPEND, lines of two runs on one log never mix.
  if (write(fd_, line.constData(), static_cast<size_t>(line.size())) != line.size()) {
    std::fprintf(stderr, "warning: the log could not be written: %s\n", std::strerror(errno));
  }
  fdatasync(fd_);
}

void RunReport::Attempted(const Attempt& attempt) {
  ++(attempt.interrupted ? interrupted_ : attempt.Passed() ? passed_ : failed_);
  if (attempt.last && !attempt.Passed() && firstFailure_ == kExitSuccess) firstFailure_ = attempt.exitCode;
  const QJsonObject record = AttemptRecord(attempt, facts_, RecordTime());
  log_.Append(record);
  display_.Clear();
  // Without --loop only a board's last attempt is its result.
  if (!options_.loop && !attempt.last) {
    Note("attempt " + std::to_string(attempt.round) + " failed on " + attempt.name + ": " + attempt.message +
         "; trying again");
    return;
  }
  if (options_.json) {
    PrintJson(record);
  } else if (!options_.quiet || !attempt.Passed()) {
    std::string line = ResultLine(attempt, options_.loop);
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
