// The relay benchmark's ends and measurements (Linux: /proc and getrusage for CPU time).
#include "harness.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/proc_stats.h"
#include "relay/reader_frame.h"

namespace relaybench {

uint64_t NowNs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

std::vector<uint8_t> RelayFrame(const uint8_t* data, int n) {
  std::vector<uint8_t> payload(static_cast<size_t>(n) + 1);
  payload[0] = relay::kRelayData;
  std::memcpy(payload.data() + 1, data, static_cast<size_t>(n));
  std::vector<uint8_t> frame(payload.size() + relay::kFrameOverhead);
  frame.resize(relay::EncodeFrame(payload.data(), payload.size(), frame.data()));
  return frame;
}

void MeasureIdle(int pid, double seconds, Figures* out) {
  benchproc::ProcessSample before, after;
  if (!benchproc::SampleProcess(pid, &before)) return;
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  if (!benchproc::SampleProcess(pid, &after)) return;
  const double wall = static_cast<double>(after.ns - before.ns) / 1e9;
  out->idleCpuMsPerSecond = (after.cpuMs - before.cpuMs) / wall;
  out->idleWakeupsPerSecond = static_cast<double>(after.switches - before.switches) / wall;
}

double Percentile(std::vector<double>* samples, double p) {
  if (samples->empty()) return 0;
  std::sort(samples->begin(), samples->end());
  size_t index = static_cast<size_t>(p * static_cast<double>(samples->size() - 1) + 0.5);
  return (*samples)[std::min(index, samples->size() - 1)];
}

bool Ends::ServerReceiveExactly(uint8_t* data, int n, int timeoutMs) {
  int done = 0;
  uint64_t end = NowNs() + static_cast<uint64_t>(timeoutMs) * 1000000u;
  while (done < n) {
    if (NowNs() > end) return false;
    if (platform::WaitReadable(server_, 100000) <= 0) continue;
    int k = platform::Receive(server_, data + done, n - done);
    if (k <= 0) return false;
    done += k;
  }
  return true;
}

bool Ends::ReaderReceiveExactly(uint8_t* data, int n, int timeoutMs) {
  int done = 0;
  uint64_t end = NowNs() + static_cast<uint64_t>(timeoutMs) * 1000000u;
  while (done < n) {
    if (NowNs() > end) return false;
    int k = reader_->Read(data + done, n - done);
    if (k < 0) return false;
    done += k;
  }
  return true;
}

bool Ends::MeasureRoundTrips(int rounds, int payloadBytes, Figures* out) {
  std::vector<uint8_t> data(static_cast<size_t>(payloadBytes));
  std::vector<uint8_t> got(static_cast<size_t>(payloadBytes) + relay::kFrameOverhead + 1);
  for (int i = 0; i < rounds; ++i) {
    for (int j = 0; j < payloadBytes; ++j) data[static_cast<size_t>(j)] = uint8_t(i + j * 13);
    std::vector<uint8_t> frame = RelayFrame(data.data(), payloadBytes);
    const std::vector<uint8_t>& upExpected = framing_.relayUnwraps ? data : frame;
    uint64_t t0 = NowNs();
    if (reader_->Write(frame.data(), static_cast<int>(frame.size())) !=
        static_cast<int>(frame.size())) {
      out->error = "reader write failed in round " + std::to_string(i);
      return false;
    }
    if (!ServerReceiveExactly(got.data(), static_cast<int>(upExpected.size()), 5000) ||
        std::memcmp(got.data(), upExpected.data(), upExpected.size()) != 0) {
      out->error = "server did not get round " + std::to_string(i) + " intact";
      return false;
    }
    uint64_t t1 = NowNs();
    out->upUs.push_back(static_cast<double>(t1 - t0) / 1000.0);

    std::vector<uint8_t> downExpected = framing_.relayWraps ? frame : data;
    uint64_t t2 = NowNs();
    if (platform::Send(server_, data.data(), payloadBytes) != payloadBytes) {
      out->error = "server send failed in round " + std::to_string(i);
      return false;
    }
    if (!ReaderReceiveExactly(got.data(), static_cast<int>(downExpected.size()), 5000) ||
        std::memcmp(got.data(), downExpected.data(), downExpected.size()) != 0) {
      out->error = "reader did not get round " + std::to_string(i) + " intact";
      return false;
    }
    uint64_t t3 = NowNs();
    out->downUs.push_back(static_cast<double>(t3 - t2) / 1000.0);
  }
  return true;
}

bool Ends::MeasureUpstream(double seconds, int frameData, Figures* out) {
  std::vector<uint8_t> data(static_cast<size_t>(frameData), 0x5A);
  std::vector<uint8_t> frame = RelayFrame(data.data(), frameData);
  std::atomic<bool> stop{false};
  std::atomic<bool> writeFailed{false};
  std::thread writer([&] {
    while (!stop.load()) {
      if (reader_->Write(frame.data(), static_cast<int>(frame.size())) < 0) {
        writeFailed = true;
        return;
      }
    }
  });
  uint8_t buffer[65536];
  uint64_t bytes = 0;
  uint64_t start = NowNs();
  uint64_t end = start + static_cast<uint64_t>(seconds * 1e9);
  while (NowNs() < end && !writeFailed.load()) {
    if (platform::WaitReadable(server_, 100000) <= 0) continue;
    int k = platform::Receive(server_, buffer, sizeof buffer);
    if (k <= 0) break;
    bytes += static_cast<uint64_t>(k);
  }
  double elapsed = static_cast<double>(NowNs() - start) / 1e9;
  stop = true;
  writer.join();
  // Count frame data only, so that both relays are compared on the same payload.
  double perFrame = framing_.relayUnwraps ? 1.0 : double(frameData) / double(frame.size());
  out->upBytesPerSecond = static_cast<double>(bytes) * perFrame / elapsed;
  if (writeFailed.load()) out->error = "reader write failed while streaming";
  return !writeFailed.load();
}

bool Ends::MeasureDownstream(double seconds, int chunkBytes, Figures* out) {
  std::vector<uint8_t> chunk(static_cast<size_t>(chunkBytes), 0xA5);
  std::atomic<bool> stop{false};
  std::thread sender([&] {
    while (!stop.load()) {
      if (platform::WaitWritable(server_, 100) <= 0) continue;
      if (platform::Send(server_, chunk.data(), chunkBytes) <= 0) return;
    }
  });
  uint8_t buffer[4096];
  uint64_t dataBytes = 0;
  uint64_t start = NowNs();
  uint64_t end = start + static_cast<uint64_t>(seconds * 1e9);
  bool ok = true;
  while (NowNs() < end) {
    if (!framing_.relayWraps) {
      int k = reader_->Read(buffer, sizeof buffer);
      if (k < 0) {
        ok = false;
        break;
      }
      dataBytes += static_cast<uint64_t>(k);
      continue;
    }
    // One relay frame: head, then its body; only its data counts.
    uint8_t head[relay::kFrameHeadSize];
    if (!ReaderReceiveExactly(head, relay::kFrameHeadSize, 3000) || head[0] != 0x55 ||
        head[1] != 0xAA) {
      ok = false;
      break;
    }
    int length = relay::FrameLength(head);
    if (length < 2 || length > static_cast<int>(sizeof buffer) ||
        !ReaderReceiveExactly(buffer, length, 3000)) {
      ok = false;
      break;
    }
    dataBytes += static_cast<uint64_t>(length - 2);
  }
  double elapsed = static_cast<double>(NowNs() - start) / 1e9;
  stop = true;
  sender.join();
  out->downBytesPerSecond = static_cast<double>(dataBytes) / elapsed;
  if (!ok) out->error = "reader lost the frame stream";
  return ok;
}

void Ends::Drain(int quietMs) {
  uint8_t buffer[65536];
  uint64_t quietSince = NowNs();
  while (NowNs() - quietSince < static_cast<uint64_t>(quietMs) * 1000000u) {
    bool any = false;
    uint32_t errors = 0, queued = 0;
    if (reader_->QueryStatus(&errors, &queued) && queued > 0) {
      any = reader_->Read(buffer, std::min<int>(static_cast<int>(queued), sizeof buffer)) > 0;
    }
    if (platform::WaitReadable(server_, 10000) > 0 &&
        platform::Receive(server_, buffer, sizeof buffer) > 0) {
      any = true;
    }
    if (any) quietSince = NowNs();
  }
}

void PrintFigures(const std::vector<Figures>& all) {
  std::printf("\n%-14s %7s %10s %10s %10s %10s %10s %10s %12s %12s\n", "relay", "rounds",
              "up p50 us", "up p99 us", "down p50", "down p99", "up MB/s", "down MB/s", "idle CPU",
              "idle wakes");
  for (Figures f : all) {
    std::printf("%-14s %7zu %10.1f %10.1f %10.1f %10.1f %10.2f %10.2f %7.2f ms/s %10.1f/s\n",
                f.name.c_str(), f.upUs.size(), Percentile(&f.upUs, 0.5), Percentile(&f.upUs, 0.99),
                Percentile(&f.downUs, 0.5), Percentile(&f.downUs, 0.99), f.upBytesPerSecond / 1e6,
                f.downBytesPerSecond / 1e6, f.idleCpuMsPerSecond, f.idleWakeupsPerSecond);
    if (!f.error.empty()) std::printf("  (%s: %s)\n", f.name.c_str(), f.error.c_str());
  }
  std::printf(
      "\nup: reader frame written to the pty -> its bytes read at the server; down: server chunk "
      "sent -> its frame read at the reader. Throughput counts frame data only; a pty is far\n"
      "faster than the reader's 115200 baud line (about 0.0115 MB/s). Idle CPU and wakes: ms of "
      "CPU\n"
      "and context switches per second of the relay's process with the server link open and no\n"
      "traffic (ours runs inside this benchmark, whose own sleeping thread adds about one).\n");
}

}  // namespace relaybench
