#pragma once
// What a download run tells: a result line (or JSON object) for each
// board's outcome on stdout, a record of every attempt in the --log file,
// and the totals of a --loop run.
#include <QByteArray>
#include <QJsonObject>
#include <cstdio>
#include <string>

#include "Board.h"
#include "ProgressDisplay.h"

// Facts of the run that every record repeats.
struct RunFacts {
  std::string hexPath, hexSha256;
  int32_t frameLength = 0;
  std::string frameSha256;
  OtherAreaBytes notProgrammed;  // what of the file no download carries
};

// The record of one attempt, as --log and --json write it: the one home of
// its keys, which every record carries (null where one does not apply). A
// download refused before any port was touched is such a record too.
// station is "" when none was named.
QJsonObject AttemptRecord(const Attempt& attempt, const RunFacts& facts, const std::string& station,
                          const std::string& time);
// Now, in ISO 8601 UTC with milliseconds, as records give their time.
std::string RecordTime();

// The text result line of one attempt.
std::string ResultLine(const Attempt& attempt, bool loop, const std::string& station);

// Appends one JSON line per attempt; each is on the disk before the next
// attempt begins, so a power cut loses at most the attempt in flight.
class AttemptLog {
 public:
  ~AttemptLog();
  // False, with the reason, when the file cannot be opened for appending or
  // is no regular file (a FIFO could hold the run, a device swallow records).
  bool Open(const std::string& path, std::string& error);
  bool IsOpen() const { return fd_ >= 0; }
  // True once the record is on the disk, whole. Otherwise nothing of it is
  // left in the file (unless another run appended behind it), and error
  // says why.
  bool Append(const QJsonObject& record, std::string& error);

 private:
  int Write(const QByteArray& line);

  int fd_ = -1;
};

struct ReportOptions {
  bool loop = false;
  bool json = false;
  bool quiet = false;
  std::string station;  // --station, "" when none
};

class RunReport : public BoardEvents {
 public:
  RunReport(const ReportOptions& options, const RunFacts& facts, ProgressDisplay& display, AttemptLog& log)
      : options_(options), facts_(facts), display_(display), log_(log) {}

  void Attempted(const Attempt& attempt) override;
  void Note(const std::string& text) override;
  // The totals of a --loop run, on stdout.
  void Summary();
  int Failed() const { return failed_; }
  int Interrupted() const { return interrupted_; }
  // The exit status of a run without --loop: 0, or the first board's failure.
  int FirstFailure() const { return firstFailure_; }
  // A record could not be written to the --log file.
  bool LogIncomplete() const { return logIncomplete_; }

 private:
  ReportOptions options_;
  const RunFacts& facts_;
  ProgressDisplay& display_;
  AttemptLog& log_;
  int passed_ = 0, failed_ = 0, interrupted_ = 0;
  int firstFailure_ = kExitSuccess;
  bool logIncomplete_ = false;
};
