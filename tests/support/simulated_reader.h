// A simulated card reader that speaks the serial frame protocol over any platform::SerialPort
// (the in-memory cable's reader end, or a real port for tools/reader-sim). Portable.
//
// It answers the host's commands from a table of configurable values, records every frame the
// host sends, and can send connect requests, relay frames and arbitrary bytes. One thread reads
// the port; every public call is thread-safe.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial.h"

namespace testsupport {

struct ReaderConfig {
  uint8_t cat1Status = 1;  // 1 = a Cat1 module is present
  uint8_t cat1Model = 0x21;
  uint8_t cat1Second = 0x00;
  uint8_t platformMethod = 0;
  uint8_t platformCache = 0;
  uint16_t platformPort = 21313;
  std::string platformHost = "127.0.0.1";  // the reader's bytes: code page 936
  uint8_t connectStatusCode = 0;
  uint8_t connectionType = 1;  // 2 = mobile data
  std::array<uint8_t, 32> auth{};
  std::string mac = "A1B2C3D4E5F6";
  std::string iccid = "89860012345678901234";
  uint16_t usbHeartBeat = 600;
  uint16_t cat1HeartBeat = 600;
  uint16_t qualityDelayMs = 30;           // the delay the quality test reports
  std::deque<int> qualityResults;         // consumed per probe first: -1 = no answer
  std::map<uint8_t, uint8_t> status;      // status byte per command code (default 0)
  std::set<uint8_t> silent;               // command codes never answered
  std::map<uint8_t, uint8_t> answerCode;  // answer a command with another code
  int answerDelayMs = 0;                  // wait before each answer
};

struct ReaderFrameRecord {
  uint8_t code = 0;
  std::vector<uint8_t> payload;  // code and data, check sum excluded
  std::vector<uint8_t> bytes;    // the whole frame as received
};

class SimulatedReader {
 public:
  explicit SimulatedReader(std::unique_ptr<platform::SerialPort> port,
                           ReaderConfig config = ReaderConfig());
  ~SimulatedReader();
  SimulatedReader(const SimulatedReader&) = delete;
  SimulatedReader& operator=(const SimulatedReader&) = delete;

  // Changes the answer table while running.
  void Configure(const std::function<void(ReaderConfig&)>& change);
  ReaderConfig Config() const;

  // Sending (false when the port write failed).
  bool SendFrame(const std::vector<uint8_t>& payload);
  bool SendRaw(const std::vector<uint8_t>& bytes);
  bool SendConnectRequest();
  bool SendRelay(const uint8_t* data, size_t n);

  // Observing what the host sent.
  std::vector<ReaderFrameRecord> Frames() const;
  size_t CountFrames(uint8_t code) const;
  // Waits until at least `count` frames with that code arrived; the last of them goes to out.
  bool WaitFrames(uint8_t code, size_t count, int timeoutMs, ReaderFrameRecord* out = nullptr);
  // Data of the host's relay frames (code 0x04), concatenated in order.
  std::vector<uint8_t> Relayed() const;
  bool WaitRelayed(size_t bytes, int timeoutMs);
  // Bytes that were not part of any valid frame (interleaved or corrupted writes show here).
  size_t DroppedBytes() const;
  // Every command code the reader answered, in order.
  std::vector<uint8_t> Answered() const;
  // Calls that arrive for each relay frame from the host (reader thread).
  void OnRelay(std::function<void(const uint8_t*, size_t)> callback);
  // Stops reading and answering (the port stays open).
  void Stop();

 private:
  void Run();
  void Handle(const ReaderFrameRecord& frame);
  void Answer(uint8_t code, const std::vector<uint8_t>& payload);

  std::unique_ptr<platform::SerialPort> port_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  ReaderConfig config_;
  std::vector<ReaderFrameRecord> frames_;
  std::vector<uint8_t> relayed_;
  std::vector<uint8_t> answered_;
  size_t dropped_ = 0;
  std::function<void(const uint8_t*, size_t)> onRelay_;
  std::mutex writeLock_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Splits a byte stream into frames: drops bytes until a 55 AA head, waits for the whole frame,
// and drops a head whose check sum fails. Consumed bytes are removed from `buffer`.
bool NextFrame(std::vector<uint8_t>* buffer, ReaderFrameRecord* frame, size_t* dropped = nullptr);

}  // namespace testsupport
