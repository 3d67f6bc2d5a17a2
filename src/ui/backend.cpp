// The process-wide choice of dialog backend. Portable.
#include "ui/backend.h"

namespace ui {

namespace {
Backend* g_backend = nullptr;
}  // namespace

void SetBackend(Backend* backend) { g_backend = backend; }
Backend* GetBackend() { return g_backend; }

}  // namespace ui
