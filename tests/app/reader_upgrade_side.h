// The reader's side of an upgrade, for the flow suites on both backends: a package for the
// simulated DFU device, the download order with its flag, and polling it to its end.
#pragma once

#include <cctype>
#include <string>
#include <vector>

#include "dfu/dfuse/dfu_file_format.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "support/dfu_packages.h"
#include "support/http_server.h"
#include "support/simulated_reader.h"
#include "upgrade/md5.h"
#include "upgrade/package_cache.h"

namespace apptest {

using Bytes = std::vector<uint8_t>;

// A .dfu package for the simulated device's ids (0483:DF11), `firmware` at 0x08000000.
inline Bytes PackageFile(const Bytes& firmware) {
  DfuFileData file;
  file.idVendor = 0x0483;
  file.idProduct = 0xDF11;
  file.images.push_back(testsupport::OneElementImage(0, 0x08000000, firmware));
  return BuildDfuFile(file);
}

inline Bytes Md5Of(const Bytes& bytes) {
  Md5Context context;
  md5Init(&context);
  md5Update(&context, bytes.data(), static_cast<uint32_t>(bytes.size()));
  md5Final(&context);
  return Bytes(context.digest, context.digest + 16);
}

// The reader's download order: 0D, label, space, 16 digest bytes, space, address, flag.
inline Bytes DownloadOrder(const Bytes& digest, const std::string& url, const std::string& flag) {
  const std::string label = "fw ";
  Bytes frame(1, 0x0D);
  frame.insert(frame.end(), label.begin(), label.end());
  frame.insert(frame.end(), digest.begin(), digest.end());
  frame.push_back(' ');
  frame.insert(frame.end(), url.begin(), url.end());
  frame.insert(frame.end(), flag.begin(), flag.end());
  return frame;
}

// Sends one request and returns the host's next reply with that code (payload with code); empty
// when none came within 10 s.
inline Bytes Ask(testsupport::SimulatedReader& reader, const Bytes& request) {
  size_t seen = reader.CountFrames(request[0]);
  if (!reader.SendFrame(request)) return Bytes();
  testsupport::ReaderFrameRecord reply;
  if (!reader.WaitFrames(request[0], seen + 1, 10000, &reply)) return Bytes();
  return reply.payload;
}

// The reader orders `file` (served as "reader.dfu") with the flash flag and polls until the
// download ended; the final answer's state byte (0: done), -1 when the exchange failed.
inline int OrderAndPoll(testsupport::SimulatedReader& reader,
                        const testsupport::LoopbackHttpServer& http, const Bytes& file) {
  if (!http.put("reader.dfu", file)) return -1;
  Bytes first = Ask(reader, DownloadOrder(Md5Of(file), http.url("files", "reader.dfu"), " 1"));
  if (first.size() != 7) return -1;
  const uint64_t deadline = platform::NowMs() + 30000;
  Bytes reply;
  do {
    reply = Ask(reader, {0x0D});
    if (reply.size() != 7 || reply[2] != 1) break;
    platform::SleepMs(5);
  } while (platform::NowMs() < deadline);
  return reply.size() == 7 ? reply[2] : -1;
}

// Where the downloader caches `file` ordered as "reader.dfu".
inline std::string CachedPath(const Bytes& file) {
  char hex[33] = {0};
  Bytes d = Md5Of(file);
  toHex(hex, d.data(), 16);
  std::string upper = hex;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return PackageCacheFolder() + platform::PathSeparator() + "reader_" + upper + ".dfu";
}

}  // namespace apptest
