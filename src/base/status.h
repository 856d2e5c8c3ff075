// The outcome of a pass over the recording or of a step of the run: ok, or what failed, with the
// whole line that reports it, worded where the failure happened.
#pragma once

#include <cstring>
#include <string>
#include <utility>

namespace pulsecut {

class Status {
 public:
  enum class Code {
    kOk,
    kSourceOpen,        // the source could not be opened
    kSourceFormat,      // the source is not a recording the passes can read
    kSourceSeek,        // the source cannot seek to its frames (a pipe, say)
    kSourceRead,        // a read failed before the end of the file
    kDestinationWrite,  // a write to the destination failed
  };

  Status() = default;  // ok

  // "Source file format: " and `detail`, which names what is wrong and what is supported.
  static Status SourceFormat(const std::string& detail) {
    return Status(Code::kSourceFormat, 0, "Source file format: " + detail);
  }
  // A failed system call: the step's name, ": " and the description of `errorNumber`, as perror
  // prints it ("Source file read: Input/output error").
  static Status SystemError(Code code, int errorNumber) {
    return Status(code, errorNumber,
                  std::string(StepName(code)) + ": " + std::strerror(errorNumber));
  }

  bool ok() const { return code_ == Code::kOk; }
  Code code() const { return code_; }
  // errno of a failed system call, 0 for any other status.
  int errorNumber() const { return errorNumber_; }
  // The report line, without its newline; empty when ok.
  const std::string& message() const { return message_; }

 private:
  Status(Code code, int errorNumber, std::string message)
      : code_(code), errorNumber_(errorNumber), message_(std::move(message)) {}

  static const char* StepName(Code code) {
    switch (code) {
      case Code::kSourceOpen:
        return "Source file open";
      case Code::kSourceSeek:
        return "Source file seek";
      case Code::kSourceRead:
        return "Source file read";
      case Code::kDestinationWrite:
        return "Destination file write";
      case Code::kSourceFormat:
        return "Source file format";
      case Code::kOk:
        break;
    }
    return "";
  }

  Code code_ = Code::kOk;
  int errorNumber_ = 0;
  std::string message_;
};

}  // namespace pulsecut
