// One run of the benchmark: the sandbox, the card server, the plugged reader, the program and
// the checks of both byte streams, with the steps every phase shares (link up, exchange a
// payload both ways) and waits that give up when the program ends, the run is interrupted or a
// deadline passes. Driven from one thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "loopback_server.h"
#include "options.h"
#include "plugged_reader.h"
#include "program.h"
#include "sandbox.h"
#include "stream_check.h"

namespace replug {

// Stops the run on SIGINT and SIGTERM (the waits notice it); ignores SIGPIPE.
void InstallStopSignals();
bool StopRequested();

// The last `lines` lines of a file, each indented, or "" when it cannot be read.
std::string FileTail(const std::string& path, int lines);

// Times of a link's steps in ns after its t0.
struct LinkTimes {
  uint64_t modeNs = 0;      // the host's SetNetworkMode reached the reader
  uint64_t acceptedNs = 0;  // the server accepted the program's connection
  uint64_t resultNs = 0;    // the reader got the connect result 00 00
};

struct ExchangeResult {
  uint64_t upFirstByteNs = 0;  // monotonic time the reader's first byte reached the server
  StreamTally up;              // reader -> server
  StreamTally down;            // server -> reader
  uint64_t Faults() const { return up.Faults() + down.Faults(); }
};

class Session {
 public:
  explicit Session(Options options) : options_(std::move(options)) {}
  ~Session() { Teardown(); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Sandbox, server, reader plugged, program started. *plugNs receives when the reader's node
  // was in place. False with *why on failure.
  bool Setup(uint64_t* plugNs, std::string* why);
  // Ends the program, unplugs the reader, stops the server, removes the sandbox. Idempotent.
  void Teardown();

  // The reader, as a reader does once told its mode, asks to connect; done when the server has
  // a new connection (more than acceptedBefore) and the reader got the result 00 00.
  bool Link(int acceptedBefore, uint64_t t0Ns, uint64_t deadlineNs, LinkTimes* times,
            std::string* why);
  // A relay frame of the reader's up, then a server chunk down, each checked byte by byte
  // (the streams of StreamSeed).
  // False with *why when either did not arrive whole before the deadline (faults are counted
  // in *result, not failures).
  bool Exchange(uint64_t streamSeed, uint64_t deadlineNs, ExchangeResult* result, std::string* why);

  // Waits until done(sliceMs) returns true; done may block up to sliceMs. Between slices it
  // checks that the program runs and no stop was asked. False with *why ("no WHAT within ...")
  // otherwise.
  bool Await(const std::function<bool(int)>& done, uint64_t deadlineNs, const std::string& what,
             std::string* why);
  // Lets ms pass (a measured interval or the unplugged gap) under the same checks.
  bool Pause(double ms, std::string* why);
  // False with *why when the program ended or a stop was asked.
  bool Healthy(std::string* why);

  // The last lines of the program's output and of its log (when on), for a failure report.
  std::string ProgramTail(int lines) const;

  // Bytes from the host to the reader outside any valid frame, over all plugs.
  uint64_t StrayBytes() const { return reader_ ? reader_->StrayBytes() : 0; }

  const Options& options() const { return options_; }
  Program& program() { return program_; }
  LoopbackServer& server() { return *server_; }
  PluggedReader& reader() { return *reader_; }
  StreamCheck& upstream() { return upstream_; }
  StreamCheck& downstream() { return downstream_; }

 private:
  Options options_;
  // Declared in the order they must exist: the program goes first at the end, the sandbox last.
  Sandbox sandbox_;
  StreamCheck upstream_;    // what the server receives
  StreamCheck downstream_;  // what the reader receives in relay frames
  std::unique_ptr<LoopbackServer> server_;
  std::unique_ptr<PluggedReader> reader_;
  Program program_;
};

// The up stream's seed of one exchange (the down stream's is this ^ 1): different for every run
// seed and exchange number.
uint64_t StreamSeed(uint64_t runSeed, uint64_t exchange);

}  // namespace replug
