// Requests a manager layer runs on threads of their own, so that SendASPI32Command returns with
// the request pending, as an ASPI manager does. Each request carries its own copy of the data:
// the caller's block and data buffer are written only when the request ends, and only while the
// caller still waits for it. A caller that gives up gets its block back at once; the system
// call may end later and then writes nothing of the caller's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "platform/srb.h"

namespace fwload {

class DetachedRequest {
 public:
  // Takes the request in `srb`: a copy of its outgoing data, or room for its incoming data,
  // at an address that is a multiple of `alignment` (a power of two).
  DetachedRequest(ScsiRequestBlock& srb, std::size_t alignment);
  virtual ~DetachedRequest() = default;
  DetachedRequest(const DetachedRequest&) = delete;
  DetachedRequest& operator=(const DetachedRequest&) = delete;

  // The request's own data bytes: what the device is given or fills.
  std::span<std::uint8_t> data() { return {data_, length_}; }
  bool data_in() const { return data_in_; }

  // Ends the request: when the caller still waits, the first `received` incoming bytes go to
  // its buffer (the rest of that stays as it was), `complete` writes the block's results and
  // returns the ASPI status, which is stored last.
  void end(std::size_t received, const std::function<std::uint8_t(ScsiRequestBlock&)>& complete);

 private:
  friend class DetachedRequests;
  std::mutex mutex_;
  ScsiRequestBlock* srb_;  // null once the caller has given the request up
  std::uint8_t* caller_data_;
  bool data_in_;
  bool ended_ = false;
  std::vector<std::uint8_t> storage_;
  std::uint8_t* data_ = nullptr;
  std::size_t length_ = 0;
};

// The requests a layer has started and not seen end.
class DetachedRequests {
 public:
  // Gives up every request still running: nothing more of the callers' is written.
  ~DetachedRequests();

  // Marks the block pending and runs `work` on a thread of its own; `work` ends the request.
  // Without a thread the block ends at once as a failed hand-over (SS_ERR, host status 0x0E).
  void start(ScsiRequestBlock& srb, std::shared_ptr<DetachedRequest> request,
             std::function<void()> work);
  // Gives the block of a running request back to the caller, ended as aborted, and returns
  // that request (for the layer to cancel it in the system); null when no running request has
  // that block.
  std::shared_ptr<DetachedRequest> abandon(ScsiRequestBlock& srb);

 private:
  std::mutex mutex_;
  std::vector<std::shared_ptr<DetachedRequest>> running_;
};

}  // namespace fwload
