#ifndef KESTO_LIDAR_BASE_OBSERVER_SLOT_H_
#define KESTO_LIDAR_BASE_OBSERVER_SLOT_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace kesto::lidar {

template <typename Signature>
class ObserverSlot;

// One application observer (a function plus the client data it gets back as its last argument)
// that is set on the application thread and called on the kit's network threads.
//
// Threads: Call is safe from any thread and takes no lock; Set and Clear are safe from any
// thread (they serialise on an internal mutex), including from inside the observer itself.
// Each Set publishes a new immutable record with one atomic exchange. The record it replaced is
// retired, and retired records are freed only at a moment when no Call is in flight, so a call
// never goes through a freed observer. Their number is bounded by the number of sets, which is
// a handful per start of the kit.
template <typename... Args>
class ObserverSlot<void(Args...)> {
 public:
  using Function = void (*)(Args..., void*);

  ObserverSlot() = default;
  ~ObserverSlot() { delete current_.load(); }
  ObserverSlot(const ObserverSlot&) = delete;
  ObserverSlot& operator=(const ObserverSlot&) = delete;

  // A null function empties the slot, which stops delivery.
  void Set(Function function, void* client_data) {
    std::unique_ptr<const Record> fresh;
    if (function != nullptr) fresh.reset(new Record{function, client_data});
    std::lock_guard<std::mutex> lock(setter_mutex_);
    std::unique_ptr<const Record> old(current_.exchange(fresh.release()));
    if (old) retired_.push_back(std::move(old));
    // A call in flight may still hold any retired record; they wait for a quiet moment.
    if (calling_.load() == 0) retired_.clear();
  }
  void Clear() { Set(nullptr, nullptr); }

  // Calls the observer, when one is set, with `args` and its client data. True when it ran.
  template <typename... CallArgs>
  bool Call(CallArgs&&... args) const {
    // The increment is ordered before the load (both sequentially consistent), so a setter that
    // sees no call in flight knows every later call loads the new record.
    calling_.fetch_add(1);
    const Record* record = current_.load();
    if (record != nullptr) record->function(std::forward<CallArgs>(args)..., record->client_data);
    calling_.fetch_sub(1);
    return record != nullptr;
  }

  bool Empty() const { return current_.load() == nullptr; }

 private:
  struct Record {
    std::function<void(Args..., void*)> function;
    void* client_data;
  };

  std::atomic<const Record*> current_{nullptr};
  mutable std::atomic<uint32_t> calling_{0};  // number of Call in flight

  std::mutex setter_mutex_;                             // serialises Set and Clear
  std::vector<std::unique_ptr<const Record>> retired_;  // guarded by setter_mutex_
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_BASE_OBSERVER_SLOT_H_
