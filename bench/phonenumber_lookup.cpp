// phonenumber_lookup [REGION]: the peer of `zelvora lookup -` built on Google's
// libphonenumber. Reads numbers from standard input, one a line, and answers
// each as it comes, with the same output: the number, a tab, the area (empty
// when none). REGION (default GB) is the home region for national numbers.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "phonenumber_peer.h"

int main(int argc, char** argv) {
  const std::string region = argc > 1 ? argv[1] : "GB";
  char* buffer = nullptr;
  size_t capacity = 0;
  std::string answer;
  for (ssize_t length; (length = ::getline(&buffer, &capacity, stdin)) >= 0;) {
    std::string number(buffer, static_cast<size_t>(length));
    if (!number.empty() && number.back() == '\n') number.pop_back();
    if (!number.empty() && number.back() == '\r') number.pop_back();
    answer = number + '\t' + bench::peerArea(number, region) + '\n';
    std::fwrite(answer.data(), 1, answer.size(), stdout);
    std::fflush(stdout);
  }
  std::free(buffer);
  return 0;
}
