#include "platform/detached_request.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "platform/request_thread.h"

namespace fwload {
namespace {

constexpr std::uint8_t kHostBusReset = 0x0E;  // also: the request could not be handed over

}  // namespace

DetachedRequest::DetachedRequest(ScsiRequestBlock& srb, std::size_t alignment)
    : srb_(&srb),
      caller_data_(srb.data_length > 0 ? srb.data_buffer : nullptr),
      data_in_((srb.flags & kSrbDirIn) != 0) {
  if (caller_data_ == nullptr) return;
  length_ = srb.data_length;
  const std::size_t align = std::max<std::size_t>(alignment, 1);
  storage_.assign(length_ + align - 1, 0);
  const auto at = reinterpret_cast<std::uintptr_t>(storage_.data());
  data_ = storage_.data() + ((align - at % align) % align);
  if (!data_in_) std::memcpy(data_, caller_data_, length_);
}

void DetachedRequest::end(std::size_t received,
                          const std::function<std::uint8_t(ScsiRequestBlock&)>& complete) {
  std::lock_guard<std::mutex> lock(mutex_);
  ended_ = true;
  ScsiRequestBlock* srb = srb_;
  if (srb == nullptr) return;  // given up: nothing of the caller's is touched
  srb_ = nullptr;
  if (data_in_ && caller_data_ != nullptr) {
    std::memcpy(caller_data_, data_, std::min(received, length_));
  }
  store_status(*srb, complete(*srb));
}

DetachedRequests::~DetachedRequests() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& r : running_) {
    std::lock_guard<std::mutex> request_lock(r->mutex_);
    r->srb_ = nullptr;
  }
}

void DetachedRequests::start(ScsiRequestBlock& srb, std::shared_ptr<DetachedRequest> request,
                             std::function<void()> work) {
  store_status(srb, kSsPending);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(running_, [](const std::shared_ptr<DetachedRequest>& q) {
      std::lock_guard<std::mutex> request_lock(q->mutex_);
      return q->ended_;
    });
    running_.push_back(request);
  }
  try {
    start_request_thread(std::move(work));
  } catch (const std::system_error&) {
    std::lock_guard<std::mutex> request_lock(request->mutex_);
    request->srb_ = nullptr;
    request->ended_ = true;
    srb.host_status = kHostBusReset;
    store_status(srb, kSsErr);
  }
}

std::shared_ptr<DetachedRequest> DetachedRequests::abandon(ScsiRequestBlock& srb) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& r : running_) {
    std::lock_guard<std::mutex> request_lock(r->mutex_);
    if (r->srb_ == &srb) {
      r->srb_ = nullptr;
      store_status(srb, kSsAborted);
      return r;
    }
  }
  return nullptr;
}

}  // namespace fwload
