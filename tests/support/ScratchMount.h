// A small file system of a test's own: a tmpfs of a given size mounted on a temporary
// directory, so that a test can fill a disk or make a directory read-only for root as
// well. Mounting needs the right to (root, as in CI); without it Mounted() is false and
// the test skips, saying why. It is unmounted when the object goes, also when the test
// fails.
#pragma once

#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "support/TempDir.h"

namespace qbtest {

class ScratchMount {
 public:
  explicit ScratchMount(std::size_t bytes) {
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
    m_mounted = ::mount("tmpfs", m_dir.Path().c_str(), "tmpfs", 0, options.c_str()) == 0;
    if (!m_mounted) m_why = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
  }
  ~ScratchMount() {
    if (m_mounted) ::umount2(m_dir.Path().c_str(), MNT_DETACH);
  }
  ScratchMount(const ScratchMount&) = delete;
  ScratchMount& operator=(const ScratchMount&) = delete;

  bool Mounted() const { return m_mounted; }
  const std::string& Why() const { return m_why; }
  std::string Path() const { return m_dir.Path(); }
  std::string File(const std::string& name) const { return m_dir.File(name); }
  // Nothing on it can be written any more, by root neither.
  bool MakeReadOnly() {
    return ::mount(nullptr, m_dir.Path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
  }
  // Takes what room is left, so that the next write finds the disk full.
  void Fill() const {
    FILE* f = std::fopen(File(".filler").c_str(), "w");
    if (!f) return;
    static const char block[4096] = {};
    while (std::fwrite(block, 1, sizeof block, f) == sizeof block) {
    }
    std::fclose(f);
  }

 private:
  TempDir m_dir;
  bool m_mounted = false;
  std::string m_why;
};

}  // namespace qbtest
