// reader-sim's command-line parsing. Portable.
#include "options.h"

#include <cerrno>
#include <cstdlib>

#include "app/exit_status.h"

namespace readersim {
namespace {

// A whole decimal or 0x-hexadecimal integer within [low, high].
bool ParseInt(const std::string& text, long low, long high, long* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || v < low || v > high) return false;
  *value = v;
  return true;
}

bool ParseHexBytes(const std::string& text, size_t count, uint8_t* out) {
  if (text.size() != count * 2) return false;
  for (size_t i = 0; i < count; ++i) {
    long v;
    if (!ParseInt("0x" + text.substr(i * 2, 2), 0, 255, &v)) return false;
    out[i] = static_cast<uint8_t>(v);
  }
  return true;
}

}  // namespace

std::string UsageText() {
  return "usage: reader-sim (--pty [LINK] | --device PATH) [options]\n"
         "  --pty [LINK]          make a pty pair and play the reader on it; LINK (optional)\n"
         "                        becomes a symlink to the port side, e.g. /tmp/dev/ttyACM0\n"
         "                        (then run the server with OVRA7_DEV_DIR=/tmp/dev, port 1)\n"
         "  --device PATH         an existing port: COM8 or \\\\.\\COM12, /dev/ttyUSB0\n"
         "  --baud N              line rate of --device (115200)\n"
         "  --no-cat1             no Cat1 module; --cat1-model B, --cat1-second B otherwise\n"
         "  --method N --cache N  platform connect method and data cache (0 or 1)\n"
         "  --host TEXT --port N  platform server address\n"
         "  --connect-status N --connect-type N   answer of the connection status query\n"
         "  --auth HEX            authorization code, 64 hex digits (32 bytes)\n"
         "  --mac TEXT --iccid TEXT               authorization record (12 / 20 characters)\n"
         "  --heartbeat USB,CAT1  heartbeat intervals in seconds\n"
         "  --quality-delay MS    delay the network-quality test reports\n"
         "  --status CODE=BYTE    status byte for a command code (repeatable)\n"
         "  --silent CODE         never answer that command code (repeatable)\n"
         "  --answer-delay MS     wait before each answer\n"
         "  --connect [MS]        send a connect request MS after start (500)\n"
         "  --connect-after CODE  ... MS after the host's next frame following its command\n"
         "                        CODE instead, e.g. 9: the host has read the platform address\n"
         "  --relay stdin|pattern|none   what goes into relay frames (stdin: one frame per line;\n"
         "                        relayed data from the host goes to stdout)\n"
         "  --pattern-bytes N --pattern-ms N      size and period of the pattern frames\n"
         "  --seconds S           stop after S seconds (0: at end of stdin, or never)\n"
         "  --quiet               no line per frame on stderr\n"
         "  --help                this help; --version: name and version\n" +
         std::string(app::kExitStatusHelp) + " (the port does not open).\n";
}

bool ParseOptions(const std::vector<std::string>& args, Options* o, std::string* error) {
  size_t i = 0;
  // The value after args[i]; false (and the error) when there is none.
  auto value = [&](std::string* out) {
    if (i + 1 >= args.size()) {
      *error = args[i] + " needs a value";
      return false;
    }
    *out = args[++i];
    return true;
  };
  auto number = [&](long low, long high, long* out) {
    std::string text;
    if (!value(&text)) return false;
    if (!ParseInt(text, low, high, out)) {
      *error = args[i - 1] + ": " + text + " is not a number from " + std::to_string(low) + " to " +
               std::to_string(high);
      return false;
    }
    return true;
  };
  testsupport::ReaderConfig& r = o->reader;
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    long n = 0;
    std::string text;
    if (a == "--help" || a == "-h") {
      o->help = true;
    } else if (a == "--version") {
      o->version = true;
    } else if (a == "--pty") {
      o->pty = true;
      if (i + 1 < args.size() && args[i + 1].compare(0, 2, "--") != 0) o->ptyLink = args[++i];
    } else if (a == "--device") {
      if (!value(&o->device)) return false;
    } else if (a == "--baud") {
      if (!number(50, 4000000, &n)) return false;
      o->baud = static_cast<int>(n);
    } else if (a == "--no-cat1") {
      r.cat1Status = 0;
    } else if (a == "--cat1-model" || a == "--cat1-second") {
      if (!number(0, 255, &n)) return false;
      (a == "--cat1-model" ? r.cat1Model : r.cat1Second) = static_cast<uint8_t>(n);
    } else if (a == "--method" || a == "--cache") {
      if (!number(0, 255, &n)) return false;
      (a == "--method" ? r.platformMethod : r.platformCache) = static_cast<uint8_t>(n);
    } else if (a == "--host") {
      if (!value(&r.platformHost)) return false;
      if (r.platformHost.size() > 240) {
        *error = "--host: at most 240 characters";
        return false;
      }
    } else if (a == "--port") {
      if (!number(0, 65535, &n)) return false;
      r.platformPort = static_cast<uint16_t>(n);
    } else if (a == "--connect-status" || a == "--connect-type") {
      if (!number(0, 255, &n)) return false;
      (a == "--connect-status" ? r.connectStatusCode : r.connectionType) = static_cast<uint8_t>(n);
    } else if (a == "--auth") {
      if (!value(&text)) return false;
      if (!ParseHexBytes(text, r.auth.size(), r.auth.data())) {
        *error = "--auth: 64 hexadecimal digits expected";
        return false;
      }
    } else if (a == "--mac" || a == "--iccid") {
      if (!value(&text)) return false;
      size_t limit = a == "--mac" ? 12 : 20;
      if (text.size() > limit) {
        *error = a + ": at most " + std::to_string(limit) + " characters";
        return false;
      }
      (a == "--mac" ? r.mac : r.iccid) = text;
    } else if (a == "--heartbeat") {
      if (!value(&text)) return false;
      size_t comma = text.find(',');
      long usb = 0, cat1 = 0;
      if (comma == std::string::npos || !ParseInt(text.substr(0, comma), 0, 65535, &usb) ||
          !ParseInt(text.substr(comma + 1), 0, 65535, &cat1)) {
        *error = "--heartbeat: USB,CAT1 in seconds expected, e.g. 600,600";
        return false;
      }
      r.usbHeartBeat = static_cast<uint16_t>(usb);
      r.cat1HeartBeat = static_cast<uint16_t>(cat1);
    } else if (a == "--quality-delay") {
      if (!number(0, 65535, &n)) return false;
      r.qualityDelayMs = static_cast<uint16_t>(n);
    } else if (a == "--status") {
      if (!value(&text)) return false;
      size_t eq = text.find('=');
      long code = 0, status = 0;
      if (eq == std::string::npos || !ParseInt(text.substr(0, eq), 0, 255, &code) ||
          !ParseInt(text.substr(eq + 1), 0, 255, &status)) {
        *error = "--status: CODE=BYTE expected, e.g. 0x02=1";
        return false;
      }
      r.status[static_cast<uint8_t>(code)] = static_cast<uint8_t>(status);
    } else if (a == "--silent") {
      if (!number(0, 255, &n)) return false;
      r.silent.insert(static_cast<uint8_t>(n));
    } else if (a == "--answer-delay") {
      if (!number(0, 60000, &n)) return false;
      r.answerDelayMs = static_cast<int>(n);
    } else if (a == "--connect") {
      o->connect = true;
      if (i + 1 < args.size() && ParseInt(args[i + 1], 0, 600000, &n)) {
        o->connectDelayMs = static_cast<int>(n);
        ++i;
      }
    } else if (a == "--connect-after") {
      if (!number(0, 255, &n)) return false;
      o->connect = true;
      o->connectAfterCode = static_cast<int>(n);
    } else if (a == "--relay") {
      if (!value(&text)) return false;
      if (text == "stdin") {
        o->relay = RelayMode::kStdin;
      } else if (text == "pattern") {
        o->relay = RelayMode::kPattern;
      } else if (text == "none") {
        o->relay = RelayMode::kNone;
      } else {
        *error = "--relay: stdin, pattern or none";
        return false;
      }
    } else if (a == "--pattern-bytes") {
      // A relay frame's data must fit the host's 2096-byte frame body with code and check sum.
      if (!number(1, 2094, &n)) return false;
      o->patternBytes = static_cast<int>(n);
    } else if (a == "--pattern-ms") {
      if (!number(1, 600000, &n)) return false;
      o->patternEveryMs = static_cast<int>(n);
    } else if (a == "--seconds") {
      if (!number(0, 86400 * 7, &n)) return false;
      o->seconds = static_cast<double>(n);
    } else if (a == "--quiet") {
      o->quiet = true;
    } else {
      *error = "unknown option " + a;
      return false;
    }
  }
  if (!o->help && !o->version && o->pty == !o->device.empty()) {
    *error = "give either --pty or --device";
    return false;
  }
  return true;
}

}  // namespace readersim
