// A throw-away PostgreSQL cluster for the tests: initdb in a temporary
// directory as the unprivileged user "postgres", a server on a free loopback
// port, one database "acserver"; stopped and removed at the end. Needs root
// (to act as that user) and Debian's postgresql package.
#pragma once

#include <string>

namespace testenv {

class TPgCluster {
 public:
  TPgCluster();
  ~TPgCluster();
  TPgCluster(const TPgCluster&) = delete;
  TPgCluster& operator=(const TPgCluster&) = delete;

  // Empty when the cluster runs; else why it could not be made (tests skip).
  const std::string& Unavailable() const { return unavailable_; }
  // postgresql://postgres@127.0.0.1:<port>/acserver
  std::string Uri() const;
  // Stops and starts the server (the data stays). True when it worked.
  bool Stop();
  bool Start();

 private:
  bool Run(const std::string& command);
  std::string bin_;
  std::string dir_;
  int port_ = 0;
  std::string unavailable_;
};

}  // namespace testenv
