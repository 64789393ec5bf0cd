#include "console/ControlClient.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>

#include "units/runtime/ControlSocket.h"
#include "units/runtime/Diagnostics.h"

namespace vantorel {

namespace {
enum Exit { kDone = 0, kTimedOut = 1, kNoInstance = 2, kRefused = 3 };
// How long a plain request may take to be answered.
constexpr int kAnswerTimeout = 10000;  // milliseconds

// Reads lines from the instance; nothing at the end or when the time is up.
class LineReader {
public:
  explicit LineReader(int fd) : fd_(fd) {}
  enum class Result { Line, Closed, TimedOut };
  // `milliseconds` < 0: no time limit.
  Result Next(std::string* line, int milliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
      if (const auto end = buffer_.find('\n'); end != std::string::npos) {
        *line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return Result::Line;
      }
      int wait = -1;
      if (milliseconds >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return Result::TimedOut;
        wait = static_cast<int>(left.count());
      }
      pollfd p{fd_, POLLIN, 0};
      const int ready = ::poll(&p, 1, wait);
      if (ready < 0 && errno == EINTR) continue;
      if (ready == 0) return Result::TimedOut;
      char chunk[4096];
      const ssize_t n = ::read(fd_, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return Result::Closed;
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }

private:
  int fd_;
  std::string buffer_;
};

bool SendLine(int fd, const std::string& request) {
  const std::string line = request + "\n";
  std::size_t sent = 0;
  while (sent < line.size()) {
    const ssize_t n = ::send(fd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

int Usage(const std::string& message) {
  std::fprintf(stderr, "vantorel: %s\nTry 'vantorel --help'.\n", message.c_str());
  return kNoInstance;
}

// Prints what an answer carries; the exit code it means.
int Print(const std::string& answer) {
  if (answer == "ok") return kDone;
  if (answer.rfind("ok ", 0) == 0) {
    std::printf("%s\n", answer.c_str() + 3);
    std::fflush(stdout);
    return kDone;
  }
  const std::string why = answer.rfind("error ", 0) == 0 ? answer.substr(6) : answer;
  std::fprintf(stderr, "vantorel: %s\n", why.c_str());
  return kRefused;
}

std::optional<double> Seconds(const std::string& text) {
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value) || value < 0) return std::nullopt;
  return value;
}
}  // namespace

bool IsControlCommand(const std::string& word) {
  return word == "status" || word == "wait-idle" || word == "open" || word == "preferences" || word == "rescan" ||
         word == "pause" || word == "resume" || word == "quit";
}

int RunControlCommand(const std::vector<std::string>& args, const std::string& socketPath) {
  const std::string& command = args.at(0);
  std::string request = command;
  bool follow = false;
  int timeout = kAnswerTimeout;
  if (command == "status") {
    bool json = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
      if (args[i] == "--json") json = true;
      else if (args[i] == "--follow") follow = true;
      else return Usage("status: unknown option '" + args[i] + "'");
    }
    request = std::string(follow ? "follow" : "status") + (json ? " json" : "");
  } else if (command == "wait-idle") {
    timeout = -1;
    for (std::size_t i = 1; i < args.size(); ++i) {
      std::string value;
      if (args[i] == "--uploads") {
        request = "wait-idle uploads";
        continue;
      }
      if (args[i] == "--timeout" && i + 1 < args.size()) value = args[++i];
      else if (args[i].rfind("--timeout=", 0) == 0) value = args[i].substr(10);
      else return Usage("wait-idle: unknown option '" + args[i] + "'");
      const auto seconds = Seconds(value);
      if (!seconds) return Usage("wait-idle: --timeout needs a number of seconds, not '" + value + "'");
      timeout = static_cast<int>(std::min(*seconds * 1000.0, 2e9));
    }
  } else if (command == "rescan") {
    if (args.size() > 2) return Usage("rescan takes one folder at most");
    if (args.size() == 2) {
      if (args[1].find('\n') != std::string::npos) return Usage("rescan: a folder name with a line break cannot be sent");
      char resolved[4096];
      const std::string path = ::realpath(args[1].c_str(), resolved) ? std::string(resolved) : args[1];
      request += " " + path;
    }
  } else if (args.size() > 1) {
    return Usage(command + " takes no arguments");
  }

  std::string error;
  const int fd = ConnectControlSocket(socketPath, &error);
  if (fd < 0) {
    std::fprintf(stderr, "vantorel: %s\n", error.c_str());
    return kNoInstance;
  }
  LineReader reader(fd);
  std::string answer;
  int code = kDone;
  // A refusal may come before the request has gone (the instance turns
  // the peer away as it connects): it is read even when sending failed.
  const bool sent = SendLine(fd, request);
  if (!sent) timeout = std::min(timeout < 0 ? kAnswerTimeout : timeout, 1000);
  if (follow && sent) {
    // Until the instance ends or the user interrupts.
    while (reader.Next(&answer, -1) == LineReader::Result::Line)
      if ((code = Print(answer)) != kDone) break;
  } else {
    switch (reader.Next(&answer, timeout)) {
      case LineReader::Result::Line: code = Print(answer); break;
      case LineReader::Result::TimedOut:
        std::fprintf(stderr, command == "wait-idle" ? "vantorel: timed out; transfers are still in progress\n"
                                                    : "vantorel: timed out waiting for the running Vantorel\n");
        code = kTimedOut;
        break;
      case LineReader::Result::Closed:
        std::fprintf(stderr, "vantorel: the running Vantorel closed the connection\n");
        code = kNoInstance;
        break;
    }
  }
  ::close(fd);
  return code;
}

bool HandOverToRunningInstance(const std::string& socketPath, const std::string& running) {
  std::string error;
  const int fd = ConnectControlSocket(socketPath, &error);
  if (fd < 0) return false;
  LineReader reader(fd);
  std::string answer;
  const bool sent = SendLine(fd, "open");
  const bool answered = reader.Next(&answer, sent ? kAnswerTimeout : 1000) == LineReader::Result::Line;
  ::close(fd);
  if (!answered) return false;
  WriteDiagnosticLine(running + (answer == "ok" ? "; its popover is open." : " on the terminal."));
  return true;
}

}  // namespace vantorel
