// DFU request sequences with the waits and recoveries real devices need. Portable.
#include "dfu/dfuse/dfu_session.h"

#include "dfu/dfuse/stdfu.h"
#include "platform/clock.h"

uint32_t DfuRequestToOperationError(uint32_t r) {
  switch (r) {
    case STDFU_NOERROR:
      return STDFU_NOERROR;
    case STDFU_DEVICELOST:
      return STDFUPRT_DEVICELOST;
    case STDFU_REQUESTTIMEOUT:
      return STDFUPRT_NOANSWER;
    default:
      return STDFUPRT_REQUESTFAILED;
  }
}

uint32_t DfuSession::Sleep(uint32_t ms) {
  // A wait that would end past the caller's deadline is not begun: the device has had its time.
  const uint64_t deadline = STDFU_GetDeadline(d_);
  if (deadline && platform::NowMs() + ms > deadline) return STDFUPRT_NOANSWER;
  // In slices, so a stop request ends a long erase wait promptly.
  while (ms > 0) {
    if (Stopped()) return STDFUPRT_STOPPED;
    uint32_t slice = ms < 20 ? ms : 20;
    platform::SleepMs(static_cast<int>(slice));
    ms -= slice;
  }
  return Stopped() ? STDFUPRT_STOPPED : STDFU_NOERROR;
}

uint32_t DfuSession::GetStatus() {
  uint32_t r = STDFU_NOERROR;
  for (int attempt = 0; attempt <= kStatusRetries; ++attempt) {
    if (attempt > 0) {
      uint32_t slept = Sleep(10 * attempt);
      if (slept != STDFU_NOERROR) return slept;
    }
    ++transfers_;
    r = STDFU_Getstatus(d_, &status_);
    if (r == STDFU_NOERROR || r == STDFU_DEVICELOST) break;
  }
  return DfuRequestToOperationError(r);
}

uint32_t DfuSession::WaitNotBusy() {
  uint32_t waited = 0;
  for (;;) {
    uint32_t r = GetStatus();
    if (r != STDFU_NOERROR) return r;
    if (status_.bState != kDfuDnBusy && status_.bState != kDfuDnloadSync) return STDFU_NOERROR;
    uint32_t poll = DfuPollTimeoutMs(status_);
    // A device whose poll time-out is 0 while busy still gets a moment between polls.
    if (poll == 0) poll = 1;
    waited += poll;
    if (waited > kMaxBusyWaitMs) return STDFUPRT_BUSYTIMEOUT;
    uint32_t slept = Sleep(poll);
    if (slept != STDFU_NOERROR) return slept;
  }
}

uint32_t DfuSession::EnsureIdle() {
  for (int round = 0; round < kIdleRounds; ++round) {
    uint32_t r = WaitNotBusy();
    if (r != STDFU_NOERROR) return r;
    uint32_t q;
    switch (status_.bState) {
      case kDfuIdle:
        return STDFU_NOERROR;
      case kDfuError:
        ++transfers_;
        q = STDFU_Clrstatus(d_);
        break;
      default:
        // Some boot loaders stall CLRSTATUS outside dfuERROR; ABORT serves the other states.
        ++transfers_;
        q = STDFU_Abort(d_);
        break;
    }
    if (q == STDFU_DEVICELOST) return STDFUPRT_DEVICELOST;
  }
  return STDFUPRT_NOTIDLE;
}

uint32_t DfuSession::Command(uint8_t code, uint32_t address) {
  const uint8_t command[5] = {
      code, static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
      static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 24)};
  return DownloadBlock(command, 5, 0);
}

uint32_t DfuSession::DownloadBlock(const uint8_t* data, uint32_t length, uint16_t block) {
  ++transfers_;
  uint32_t r = DfuRequestToOperationError(STDFU_Dnload(d_, data, length, block));
  if (r != STDFU_NOERROR) {
    // A refused block leaves the reason in the status.
    if (r == STDFUPRT_REQUESTFAILED && GetStatus() == STDFU_NOERROR && status_.bState == kDfuError)
      return STDFUPRT_DEVICEERROR;
    return r;
  }
  r = WaitNotBusy();
  if (r != STDFU_NOERROR) return r;
  if (status_.bState == kDfuError) return STDFUPRT_DEVICEERROR;
  return status_.bState == kDfuDnloadIdle ? STDFU_NOERROR : STDFUPRT_UNEXPECTEDSTATE;
}

uint32_t DfuSession::UploadBlock(uint8_t* data, uint32_t length, uint16_t block) {
  uint32_t received = 0;
  ++transfers_;
  uint32_t r = DfuRequestToOperationError(STDFU_Upload(d_, data, length, block, &received));
  if (r == STDFUPRT_REQUESTFAILED) {
    // A read-protected device stalls the upload and reports dfuERROR.
    if (GetStatus() == STDFU_NOERROR && status_.bState == kDfuError) return STDFUPRT_DEVICEERROR;
    return r;
  }
  if (r != STDFU_NOERROR) return r;
  return received == length ? STDFU_NOERROR : STDFUPRT_SHORTUPLOAD;
}

uint32_t DfuSession::GetCommands(std::vector<uint8_t>* commands) {
  uint8_t reply[32] = {};
  uint32_t received = 0;
  ++transfers_;
  uint32_t r = DfuRequestToOperationError(STDFU_Upload(d_, reply, sizeof reply, 0, &received));
  commands->clear();
  if (r == STDFUPRT_DEVICELOST) return r;
  // A device without the extension refuses block 0: an empty list, the device cleared again.
  if (r == STDFU_NOERROR && received >= 1) commands->assign(reply + 1, reply + received);
  return EnsureIdle();
}

uint32_t DfuSession::Abort() {
  ++transfers_;
  return DfuRequestToOperationError(STDFU_Abort(d_));
}

uint32_t DfuSession::Leave() {
  ++transfers_;
  // The leave request is a download with no data stage. The STM32 boot loader tests wLength
  // before wBlockNum, so it takes any block; but block 0 is its command space, where a DfuSe
  // firmware that decodes the block first refuses an empty command (errSTALLEDPKT). Block 2
  // opens the data space: there a zero-length download is DFU's end of transfer, and its
  // address, pointer + (2 - 2) * wLength, is the address pointer the boot loader jumps to.
  uint32_t r = STDFU_Dnload(d_, nullptr, 0, kDfuLeaveBlock);
  if (r == STDFU_DEVICELOST) return STDFU_NOERROR;
  if (r != STDFU_NOERROR) return STDFUPRT_REQUESTFAILED;
  for (int round = 0; round < kIdleRounds; ++round) {
    ++transfers_;
    uint32_t q = STDFU_Getstatus(d_, &status_);
    // The boot loader jumps to the new firmware at once, often before it answers.
    if (q != STDFU_NOERROR) return STDFU_NOERROR;
    switch (status_.bState) {
      case kDfuManifest:
      case kDfuManifestWaitReset:
      case kDfuIdle:
        return STDFU_NOERROR;
      case kDfuError:
        return STDFUPRT_DEVICEERROR;
      case kDfuManifestSync:
      case kDfuDnBusy: {
        uint32_t slept = Sleep(DfuPollTimeoutMs(status_) ? DfuPollTimeoutMs(status_) : 1);
        if (slept != STDFU_NOERROR) return slept;
        break;
      }
      default:
        return STDFUPRT_UNEXPECTEDSTATE;
    }
  }
  return STDFUPRT_BUSYTIMEOUT;
}
