#include "platform/shared_aspi.h"

namespace fwload {
namespace {

// Every call goes to the shared manager; a block given up goes to it too, so that it lives as
// long as the manager that may still write into it.
class AspiHandle : public AspiModule {
 public:
  explicit AspiHandle(std::shared_ptr<AspiModule> manager) : manager_(std::move(manager)) {}
  bool has_entry(std::string_view entry) override { return manager_->has_entry(entry); }
  std::uint32_t get_support_info() override { return manager_->get_support_info(); }
  void send_command(ScsiRequestBlock& srb) override { manager_->send_command(srb); }
  void abort(ScsiRequestBlock& srb) override { manager_->abort(srb); }
  std::string device_path(std::uint8_t adapter, std::uint8_t target) override {
    return manager_->device_path(adapter, target);
  }
  std::string device_problem(std::uint8_t adapter, std::uint8_t target) override {
    return manager_->device_problem(adapter, target);
  }
  std::string manager_name() override { return manager_->manager_name(); }
  bool copies_data() const override { return manager_->copies_data(); }
  void keep_abandoned(std::unique_ptr<RequestSlot> slot) override {
    manager_->keep_abandoned(std::move(slot));
  }

 private:
  std::shared_ptr<AspiModule> manager_;
};

}  // namespace

std::unique_ptr<AspiModule> SharedAspiLoader::load(std::string_view name) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!manager_) manager_ = loader_.load(name);
  if (!manager_) return nullptr;
  return std::make_unique<AspiHandle>(manager_);
}

}  // namespace fwload
