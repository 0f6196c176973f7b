// The policy file's grammar: what it accepts, the defaults, and that any
// doubt makes the whole file invalid rather than half-read.
#include "platform/auth/authorization_policy.hpp"

#include <gtest/gtest.h>

#include <string>

namespace tolvan::auth {
namespace {

bool Parse(const std::string &text, AuthorizationPolicy *policy) {
  return ParseAuthorizationPolicy(text.data(), text.size(), policy);
}

TEST(AuthorizationPolicy, EmptyFileGivesTheDefaults) {
  AuthorizationPolicy policy;
  ASSERT_TRUE(Parse("# nothing set\n\n", &policy));
  EXPECT_STREQ(policy.adminGroup, "sudo");
  EXPECT_STREQ(policy.agent, "");
  EXPECT_EQ(policy.agentTimeoutSeconds, 60u);
}

TEST(AuthorizationPolicy, ReadsEverySetting) {
  AuthorizationPolicy policy;
  ASSERT_TRUE(Parse("admin-group = wheel\n"
                    "  agent\t=  /usr/lib/ask pass/askpass  \r\n"
                    "# comment = ignored\n"
                    "agent-timeout=5",
                    &policy));
  EXPECT_STREQ(policy.adminGroup, "wheel");
  EXPECT_STREQ(policy.agent, "/usr/lib/ask pass/askpass");
  EXPECT_EQ(policy.agentTimeoutSeconds, 5u);
}

TEST(AuthorizationPolicy, RefusesAnythingDoubtful) {
  const std::string cases[] = {
      "admin-group\n",
      "admin-group =\n",
      "admin-group = -rf\n",
      "admin-group = a b\n",
      "admin-group = " + std::string(33, 'a') + "\n",
      "admin-group = sudo\nadmin-group = wheel\n",
      "agent = relative/askpass\n",
      "agent = /bin/ask\x01pass\n",
      "agent = /" + std::string(1100, 'a') + "\n",
      "agent-timeout = 0\n",
      "agent-timeout = 3601\n",
      "agent-timeout = -1\n",
      "agent-timeout = 5s\n",
      "agent-timeout = 99999999999999999999\n",
      "unknown = 1\n",
      std::string("admin-group = sudo\0\n", 20),
  };
  for (const std::string &text : cases) {
    AuthorizationPolicy policy;
    EXPECT_FALSE(Parse(text, &policy)) << text;
    EXPECT_STREQ(policy.adminGroup, "sudo") << "a refused file changed the output: " << text;
  }
}

}  // namespace
}  // namespace tolvan::auth
