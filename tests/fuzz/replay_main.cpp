// Host stand-in for libFuzzer's driver: runs every file of the directories
// named on the command line through LLVMFuzzerTestOneInput, each in a child
// process so that one crash or failed invariant does not hide the rest.
//
// A directory may hold OPEN, a list of its files that reproduce a fault
// still open in the driver, one per line: the name, then "# ids: ..." with
// the invariant it fails (or a comma-separated choice of them). Those must still fail that invariant, and one
// that passes is reported so that the list stays true.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

// File name -> the invariant id it fails ("" for any failure).
std::map<std::string, std::string> OpenList(const std::string& dir) {
  std::map<std::string, std::string> names;
  std::ifstream in(dir + "/OPEN");
  std::string line;
  auto trim = [](std::string t) {
    t.erase(std::remove_if(t.begin(), t.end(), [](char c) { return c == ' ' || c == '\t' || c == '\r'; }), t.end());
    return t;
  };
  while (std::getline(in, line)) {
    const size_t hash = line.find('#');
    const std::string name = trim(line.substr(0, hash));
    if (name.empty()) continue;
    const std::string comment = hash == std::string::npos ? "" : line.substr(hash + 1);
    names[name] = trim(comment.substr(0, comment.find(':')));
  }
  return names;
}

std::vector<std::string> Files(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name[0] == '.' || name == "OPEN" || name.find(".txt") != std::string::npos ||
          name.find(".md") != std::string::npos) {
        continue;
      }
      names.push_back(name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Whether the output shows one of the comma-separated invariants failing
// (any failure for an empty list).
bool FailedOneOf(const std::string& output, const std::string& ids) {
  if (ids.empty()) return true;
  size_t start = 0;
  while (start <= ids.size()) {
    size_t end = ids.find(',', start);
    if (end == std::string::npos) end = ids.size();
    if (output.find("fuzz invariant " + ids.substr(start, end - start) + " failed") != std::string::npos) return true;
    start = end + 1;
  }
  return false;
}

// True when the input ran to the end without a crash or failed invariant;
// with a capture, what it wrote to stderr goes there instead.
bool Passes(const std::string& path, std::string* capture) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  char log[] = "/tmp/fuzz_replay_XXXXXX";
  const int fd = capture != nullptr ? mkstemp(log) : -1;
  std::fflush(nullptr);
  pid_t child = fork();
  if (child == 0) {
    if (fd >= 0) dup2(fd, 2);
    LLVMFuzzerTestOneInput(data.data(), data.size());
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  if (fd >= 0) {
    std::ifstream text(log);
    capture->assign((std::istreambuf_iterator<char>(text)), std::istreambuf_iterator<char>());
    close(fd);
    unlink(log);
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned ran = 0, failed = 0;
  for (int i = 1; i < argc; ++i) {
    std::string dir = argv[i];
    std::vector<std::string> names = Files(dir);
    struct stat info;
    if (stat(dir.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
      // A single input, as libFuzzer takes one.
      const size_t slash = dir.rfind('/');
      names.push_back(slash == std::string::npos ? dir : dir.substr(slash + 1));
      dir = slash == std::string::npos ? "." : dir.substr(0, slash);
    }
    const std::map<std::string, std::string> open = OpenList(dir);
    for (const std::string& name : names) {
      const std::string path = dir + "/" + name;
      const auto entry = open.find(name);
      const bool expected_to_fail = entry != open.end();
      std::string output;
      const bool passes = Passes(path, expected_to_fail ? &output : nullptr);
      ++ran;
      if (expected_to_fail && passes) {
        std::printf("NOW PASSES %s: the fault is fixed, take it off %s/OPEN\n", path.c_str(), dir.c_str());
        ++failed;
      } else if (expected_to_fail && !FailedOneOf(output, entry->second)) {
        std::printf("FAILED    %s, not on %s as OPEN says:\n%s", path.c_str(), entry->second.c_str(), output.c_str());
        ++failed;
      } else if (expected_to_fail) {
        std::printf("open      %s (still fails %s)\n", path.c_str(), entry->second.c_str());
      } else if (!passes) {
        std::printf("FAILED    %s\n", path.c_str());
        ++failed;
      }
    }
  }
  std::printf("%u inputs, %u passed, %u failed\n", ran, ran - failed, failed);
  return failed == 0 && ran > 0 ? 0 : 1;
}
