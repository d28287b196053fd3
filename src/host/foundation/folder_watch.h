// Knowing with one system call that nothing has changed at a few paths.
//
// A FolderWatch asks the kernel (inotify) to report changes to the files it
// covers, to their folders and to every folder above them, and watches the
// process's mount table. check() takes in what was reported since the last
// call and returns a generation: the same generation from two calls means
// nothing covered can have changed between them. Reports are queued by the
// kernel before the call that made the change returns, so a change made by
// any process before check() shows in the generation that check() returns.
//
// cover(path) extends the watch to what `path` names: the file (written,
// truncated, given other permissions or times, by whatever name, so a hard
// link written through another folder is seen too), its folder (entries
// created, removed or renamed; its permissions) and each folder above it up
// to the root (entries created, removed or renamed). A path below a folder
// that does not exist yet is covered up to the last folder that does, so the
// missing one appearing shows too.
//
// What a FolderWatch cannot see, it does not cover: cover() gives 0 for a
// relative path, a symbolic link on the way, a folder on a file system
// whose changes made elsewhere may go unreported (anything but the common
// local ones), or when the kernel refuses more watches. Two changes go
// unreported: the permissions of a folder further up than the file's own,
// and a file changed only through a shared memory mapping; callers that rely
// on the watch should still stat now and then.
//
// Changes made before a watch was added are not reported: a caller must
// check() after cover() and only then look at the files, before it relies
// on the generation.
//
// A cover holds until layout() moves on: after anything was created,
// removed or renamed in a watched folder, a watch was dropped, reports were
// lost or a file system was mounted or unmounted. Cover the path again then.
//
// A Moment makes several checks one: while one lives, only the first check()
// polls and the later ones give its generation, so everything looked at
// meanwhile counts as looked at in that moment. A lookup takes one, and its
// preference check and area-code check then cost one poll together.
//
// The descriptors are opened at the first check() and closed by the
// destructor. A child made by fork() closes its copies at once (so it cannot
// take reports meant for its parent) and starts afresh. Not thread-safe;
// nothing here throws or reports: a watch that cannot be set up makes
// check() give 0, which callers take as "stat instead".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace host {

class FolderWatch {
 public:
  FolderWatch();
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // The current generation, never 0 while the watch works; 0 when it cannot
  // be used at all. One poll() when nothing was reported.
  uint64_t check();

  // Covers `path` as described above and returns the layout under which the
  // cover holds, or 0 when it cannot be covered. Call after check() returned
  // a generation other than 0; several system calls.
  uint64_t cover(const std::string& path);

  // Moves on whenever covers may no longer hold.
  uint64_t layout() const { return layout_; }

  // Closes the descriptors (a child process after fork()); the next check()
  // opens them again and gives a new generation.
  void drop();

  // Scoped; nests. Lives on the stack of one call on the thread using `watch`.
  class Moment {
   public:
    explicit Moment(FolderWatch& watch);
    ~Moment();
    Moment(const Moment&) = delete;
    Moment& operator=(const Moment&) = delete;

   private:
    FolderWatch& watch_;
  };

 private:
  // A descriptor the watch opened and what identified it then. A host that
  // closed it may have opened something else under its number, which the
  // watch then neither reads nor closes.
  struct Descriptor {
    int fd = -1;
    uint64_t device = 0;
    uint64_t inode = 0;
    bool nonBlocking = false;
  };

  static void dropAllInChild();
  static Descriptor describe(int fd);
  static bool stillOurs(const Descriptor& ours);
  static void closeOwn(Descriptor& ours);
  void open();
  void takeReports();
  // What cover() has watched in the layout watchesLayout_: each path once,
  // and each file system's kind once (by device number).
  struct Watched {
    std::string path;
    uint32_t mask = 0;
    std::optional<uint64_t> device;  // of the path; none for the root, which is never stat'ed
  };
  void forgetStaleWatches();
  const Watched* watched(const std::string& path, uint32_t mask) const;
  bool onLocalFileSystem(const std::string& path, std::optional<uint64_t> device);
  bool watch(const std::string& path, uint32_t mask, std::optional<uint64_t> device);

  Descriptor inotify_;
  Descriptor mounts_;
  bool broken_ = false;
  uint64_t generation_ = 1;
  uint64_t layout_ = 1;
  std::vector<Watched> watches_;
  std::vector<std::pair<uint64_t, bool>> devices_;  // device number, local
  uint64_t watchesLayout_ = 0;
  int moments_ = 0;            // Moments alive
  bool momentPolled_ = false;  // whether their first check() was made
  // The live watches, which a forked child drops.
  static FolderWatch* live_;
  FolderWatch* next_ = nullptr;
};

// The process's watch, shared by everything that keeps what it read from
// files: the preference store and the area-code cache. Lives until exit.
FolderWatch& processFolderWatch();

// What a cache keeps of a file (or two) it read, to skip looking at them
// again while the process's watch reports nothing changed at their paths.
// Plain value; no state outside the process's watch.
class WatchedPaths {
 public:
  // Whether the paths are still as they were when last confirmed, without
  // looking at them: the watch, whose generation is now `generation`,
  // reported nothing since, and that was less than a second ago by the file
  // clock (fileClockNow() in file_version.h, which a test may set; set back,
  // it counts as a second gone by), since a change made only through a
  // shared memory mapping, or to the permissions of a folder far above, goes
  // unreported.
  bool unchanged(uint64_t generation) const;

  // Records that the paths (`second` may be empty) were just looked at,
  // after the check() that gave `generation`, and found as they were. Paths
  // not covered yet are covered the second time they are found so, not the
  // first: covering takes some twenty system calls and a stat one or two,
  // so a file looked at once only (a process that looks up one number and
  // ends) never pays for a watch. Covered paths are confirmed only at the
  // next call, since a change made before a watch was added goes
  // unreported. Paths the watch cannot cover are not walked again until
  // forget().
  void confirm(uint64_t generation, const std::string& first, const std::string& second = {});

  // Until confirmed again, unchanged() is false; paths found uncoverable are
  // tried again at the next confirmation.
  void forget() {
    confirmedIn_ = 0;
    uncoverable_ = false;
  }

 private:
  uint64_t confirmedIn_ = 0;      // the generation confirmed in; 0: none
  int64_t confirmedAt_ = 0;       // the file clock then, in ns
  uint64_t coveredIn_ = 0;        // the layout the paths are covered in; 0: not covered
  bool uncoverable_ = false;      // the watch cannot see them: not tried again until forget()
  bool foundAsTheyWere_ = false;  // confirm() was called before, so they are worth covering
};

}  // namespace host
