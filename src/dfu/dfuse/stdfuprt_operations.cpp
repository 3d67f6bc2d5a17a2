// Background operations: one worker thread each, status shared under a lock. Portable.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

#include "dfu/dfuse/dfu_descriptors.h"
#include "dfu/dfuse/dfu_image.h"
#include "dfu/dfuse/dfu_session.h"
#include "dfu/dfuse/stdfu.h"
#include "dfu/dfuse/stdfuprt.h"
#include "platform/thread_start.h"

namespace {

struct Operation {
  std::mutex lock;
  OperationContext context;  // percent, errorCode and the failure's status under `lock`
  std::atomic<bool> stop{false};
  std::thread worker;
};

std::mutex g_liveLock;
std::set<Operation*> g_live;

class Runner {
 public:
  explicit Runner(Operation* op) : op_(op), image_(op->context.image) {}

  void Run() {
    uint32_t r = Execute();
    if (device_) STDFU_Close(&device_);
    std::lock_guard<std::mutex> hold(op_->lock);
    if (r == STDFU_NOERROR) {
      op_->context.percent = 100;
    } else {
      op_->context.errorCode = r;
      if (session_) {
        op_->context.lastStatus = session_->lastStatus().bStatus;
        op_->context.lastState = session_->lastStatus().bState;
      }
    }
  }

 private:
  void Percent(uint64_t done, uint64_t total) {
    // 100 is kept for success, which Run sets.
    uint32_t p = total ? static_cast<uint32_t>(done * 100 / total) : 0;
    std::lock_guard<std::mutex> hold(op_->lock);
    op_->context.percent = static_cast<uint8_t>(std::min<uint32_t>(p, 99));
  }

  uint32_t Open() {
    if (STDFU_Open(op_->context.devicePath, &device_) != STDFU_NOERROR) return STDFUPRT_OPENERROR;
    uint32_t number = 0, count = 0;
    uint32_t d = STDFU_GetDFUDescriptor(device_, &number, &count, functional_);
    if (d == STDFU_DEVICELOST) return STDFUPRT_DEVICELOST;
    if (d != STDFU_NOERROR) return STDFUPRT_UNSUPPORTED;
    transferSize_ = DfuTransferSize(functional_);
    uint32_t r = STDFU_SelectCurrentConfiguration(device_, 0, 0, image_->target.alternate);
    if (r == STDFU_DEVICELOST) return STDFUPRT_DEVICELOST;
    if (r != STDFU_NOERROR) return STDFUPRT_OPENERROR;
    session_.reset(new DfuSession(device_, &op_->stop));
    return session_->EnsureIdle();
  }

  // The DfuSe commands the operation needs must be in the device's list.
  uint32_t Require(std::initializer_list<uint8_t> codes) {
    std::vector<uint8_t> list;
    uint32_t r = session_->GetCommands(&list);
    if (r != STDFU_NOERROR) return r;
    for (uint8_t c : codes)
      if (std::find(list.begin(), list.end(), c) == list.end()) return STDFUPRT_UNSUPPORTED;
    return STDFU_NOERROR;
  }

  uint32_t Execute() {
    if (!image_->filtered || image_->filterOperation != op_->context.operation)
      return STDFUPRT_BADPARAMETER;
    if (image_->filterResult != STDFU_NOERROR) return STDFUPRT_ADDRESSOUTOFMAP;
    uint32_t r = Open();
    if (r != STDFU_NOERROR) return r;
    switch (op_->context.operation) {
      case kOperationErase:
        return Erase();
      case kOperationDownload:
        return Download();
      case kOperationUpload:
        return Upload();
      case kOperationLeave:
        return Leave();
      case kOperationDetach:
        return Detach();
      default:
        return STDFUPRT_BADPARAMETER;
    }
  }

  uint32_t Erase() {
    uint32_t r = Require({0x21, 0x41});
    if (r != STDFU_NOERROR) return r;
    std::vector<uint32_t> sectors;
    for (const DfuSector& s : image_->target.sectors) {
      if (!(s.attributes & kSectorErasable)) continue;
      uint64_t sEnd = static_cast<uint64_t>(s.address) + s.size;
      for (const DfuElementData& e : image_->data.elements) {
        uint64_t eEnd = static_cast<uint64_t>(e.address) + e.data.size();
        if (!e.data.empty() && e.address < sEnd && eEnd > s.address) {
          sectors.push_back(s.address);
          break;
        }
      }
    }
    for (size_t i = 0; i < sectors.size(); ++i) {
      Percent(i, sectors.size());
      r = session_->EraseSector(sectors[i]);
      if (r != STDFU_NOERROR) return r;
    }
    return STDFU_NOERROR;
  }

  uint64_t TotalBytes() const {
    uint64_t total = 0;
    for (const DfuElementData& e : image_->data.elements) total += e.data.size();
    return total;
  }

  // Walks every element in blocks of wTransferSize. The device places block n at
  // pointer + (n - 2) * length, so a short last block, and any block past the 16-bit block
  // numbers, starts from a fresh address pointer.
  template <typename Step>
  uint32_t ForEachBlock(Step step) {
    if (transferSize_ == 0) return STDFUPRT_UNSUPPORTED;
    uint64_t total = TotalBytes(), done = 0;
    for (DfuElementData& e : image_->data.elements) {
      uint32_t offset = 0;
      const uint32_t size = static_cast<uint32_t>(e.data.size());
      uint16_t block = 0;
      uint32_t chunkOfRun = 0;
      while (offset < size) {
        uint32_t length = std::min<uint32_t>(transferSize_, size - offset);
        if (block == 0 || length != chunkOfRun || block == 0xFFFF) {
          // Reads leave the device upload-idle, where it takes no download until aborted.
          if (reading_) {
            uint32_t q = session_->Abort();
            if (q != STDFU_NOERROR) return q;
          }
          uint32_t r = session_->SetAddress(e.address + offset);
          if (r != STDFU_NOERROR) return r;
          block = 2;
          chunkOfRun = length;
        }
        uint32_t r = step(e.data.data() + offset, length, block);
        if (r != STDFU_NOERROR) return r;
        ++block;
        offset += length;
        done += length;
        Percent(done, total);
      }
    }
    return STDFU_NOERROR;
  }

  uint32_t Download() {
    if (!(DfuAttributes(functional_) & kDfuCanDnload)) return STDFUPRT_UNSUPPORTED;
    uint32_t r = Require({0x21});
    if (r != STDFU_NOERROR) return r;
    return ForEachBlock([this](uint8_t* data, uint32_t length, uint16_t block) {
      return session_->DownloadBlock(data, length, block);
    });
  }

  uint32_t Upload() {
    if (!(DfuAttributes(functional_) & kDfuCanUpload)) return STDFUPRT_UNSUPPORTED;
    uint32_t r = Require({0x21});
    if (r != STDFU_NOERROR) return r;
    reading_ = true;
    r = ForEachBlock([this](uint8_t* data, uint32_t length, uint16_t block) {
      // After a set-address command the device is download-idle; reads start from idle.
      if (block == 2) {
        uint32_t q = session_->Abort();
        if (q != STDFU_NOERROR) return q;
      }
      return session_->UploadBlock(data, length, block);
    });
    if (r != STDFU_NOERROR) return r;
    return session_->Abort();
  }

  uint32_t Leave() {
    if (!image_->target.sectors.empty()) {
      uint32_t r = session_->SetAddress(image_->target.sectors.front().address);
      // A device that is already gone has left.
      if (r == STDFUPRT_DEVICELOST) return STDFU_NOERROR;
      if (r != STDFU_NOERROR) return r;
    }
    return session_->Leave();
  }

  uint32_t Detach() {
    uint32_t r = STDFU_Detach(device_, DfuDetachTimeout(functional_));
    if (r == STDFU_NOERROR || r == STDFU_DEVICELOST) return STDFU_NOERROR;
    return r == STDFU_REQUESTSTALLED ? STDFUPRT_UNSUPPORTED : STDFUPRT_REQUESTFAILED;
  }

  Operation* op_;
  DfuImage* image_;
  DfuDeviceHandle device_ = nullptr;
  uint8_t functional_[9] = {};
  uint32_t transferSize_ = 0;
  bool reading_ = false;
  std::unique_ptr<DfuSession> session_;
};

Operation* Find(DfuOperationHandle handle) {
  Operation* op = reinterpret_cast<Operation*>(handle);
  return g_live.count(op) ? op : nullptr;
}

}  // namespace

uint32_t STDFUPRT_LaunchOperation(OperationContext* context, DfuOperationHandle* handle) {
  if (!context || !handle || !context->image || context->operation > kOperationDownload)
    return STDFUPRT_BADPARAMETER;
  *handle = 0;
  Operation* op = new Operation;
  op->context = *context;
  op->context.devicePath[sizeof op->context.devicePath - 1] = '\0';
  op->context.percent = 0;
  op->context.errorCode = STDFU_NOERROR;
  op->context.lastStatus = op->context.lastState = 0;
  {
    std::lock_guard<std::mutex> hold(g_liveLock);
    g_live.insert(op);
  }
  if (!platform::StartThread(&op->worker, [op] { Runner(op).Run(); })) {
    {
      std::lock_guard<std::mutex> hold(g_liveLock);
      g_live.erase(op);
    }
    delete op;
    return STDFUPRT_NOTHREAD;
  }
  *handle = reinterpret_cast<DfuOperationHandle>(op);
  return STDFU_NOERROR;
}

uint32_t STDFUPRT_GetOperationStatus(DfuOperationHandle handle, OperationContext* context) {
  if (!context) return STDFUPRT_BADPARAMETER;
  std::lock_guard<std::mutex> hold(g_liveLock);
  Operation* op = Find(handle);
  if (!op) return STDFUPRT_BADHANDLE;
  std::lock_guard<std::mutex> holdOp(op->lock);
  *context = op->context;
  return STDFU_NOERROR;
}

uint32_t STDFUPRT_StopOperation(DfuOperationHandle handle, OperationContext* context) {
  Operation* op = nullptr;
  {
    std::lock_guard<std::mutex> hold(g_liveLock);
    op = Find(handle);
    if (!op) return STDFUPRT_BADHANDLE;
    g_live.erase(op);
  }
  op->stop = true;
  op->worker.join();
  if (context) *context = op->context;
  delete op;
  return STDFU_NOERROR;
}
