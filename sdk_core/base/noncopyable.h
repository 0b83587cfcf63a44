#ifndef KESTO_LIDAR_BASE_NONCOPYABLE_H_
#define KESTO_LIDAR_BASE_NONCOPYABLE_H_

namespace kesto::lidar {

// Base for objects that own a thread, a socket or a loop and must not be duplicated.
class noncopyable {
 public:
  noncopyable(const noncopyable&) = delete;
  noncopyable& operator=(const noncopyable&) = delete;

 protected:
  noncopyable() = default;
  ~noncopyable() = default;
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_BASE_NONCOPYABLE_H_
