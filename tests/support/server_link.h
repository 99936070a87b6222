// torvacin-access's request handling in the test's own process, over a
// machine of its own, as the program's connection to the helper; the
// request lines are kept.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "machine/access.h"
#include "machine/machine.h"
#include "p2/access_server.h"

namespace torv {

class ServerLink : public AccessLink {
 public:
  ServerLink(std::shared_ptr<Machine> m, std::vector<std::string>& requests)
      : m_(std::move(m)), server_(*m_), requests_(requests) {}
  bool Exchange(const std::string& request, std::string& answer, std::string&) override {
    requests_.push_back(request);
    answer = server_.Answer(request);
    return true;
  }

 private:
  std::shared_ptr<Machine> m_;
  AccessServer server_;
  std::vector<std::string>& requests_;
};

}  // namespace torv
