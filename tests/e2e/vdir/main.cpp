// Runs the cases that need a server, each against a private Radicale of its
// own: a process started without one starts itself again under
// scripts/private-radicale.sh, which stops the server by its process id when
// the case ends. Listing the cases needs no server.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
  bool listing = false;
  for (int i = 1; i < argc; ++i) listing = listing || std::strncmp(argv[i], "--gtest_list_tests", 18) == 0;
  if (!listing && std::getenv("PRIVATE_RADICALE_DIR") == nullptr) {
    std::vector<char*> again{const_cast<char*>("bash"), const_cast<char*>(PIMBRIDGE_PRIVATE_RADICALE)};
    for (int i = 0; i < argc; ++i) again.push_back(argv[i]);
    again.push_back(nullptr);
    ::execvp("bash", again.data());
    return 127;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
