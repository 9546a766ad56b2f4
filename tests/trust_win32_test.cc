// Whether Windows trusts a list with a given owner, access list and label, written in SDDL.
#include <gtest/gtest.h>

#include <string>

#include "trust.h"

// One rule a row; the user running Tarnwick is `me`. A file made in C:\ by an administrator
// inherits the entries `made` starts with, and the High label with no-write-up.
TEST(UntrustedSddlReasonTest, LeavesChangeToAdministratorsSystemAndTheUser) {
  const std::string me = "S-1-5-21-1-2-3-1001", other = "S-1-5-21-1-2-3-1002",
                    high = "S:AI(ML;ID;NW;;;HI)";
  const auto made = [](const std::string& owner, const std::string& entries) {
    return "O:" + owner +
           "D:AI(A;ID;FA;;;BA)(A;ID;FA;;;SY)(A;ID;0x1200a9;;;BU)(A;ID;0x1301bf;;;AU)" + entries;
  };
  const struct {
    const char* name;
    std::string sddl;
    std::string reason;          // its start; empty: trusted
    const char* user = nullptr;  // where not `me`
  } rows[] = {
      {"made by an administrator in C:\\", made(me, high), ""},
      {"made by an administrator, owned by Administrators", made("BA", high), ""},
      {"after the icacls lines", "O:BAD:PAI(A;;FA;;;BA)(A;;FA;;;SY)(A;;0x1200a9;;;BU)", ""},
      {"by Group Policy, as SYSTEM", made("SY", high), ""},
      {"owned by TrustedInstaller",
       made("S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", high), ""},
      {"owned by another user", made(other, high), "Owned by"},
      {"no owner, the user unknown", "D:PAI(A;;FA;;;BA)", "Owned by", ""},
      {"no access list", "O:BA" + high, "Anyone"},  // Wine reads D:NO_ACCESS_CONTROL as empty
      {"Everyone: write data", made("BA", "(A;;0x2;;;WD)" + high), "Accounts"},
      {"INTERACTIVE: append data", made("BA", "(A;;0x4;;;IU)" + high), "Accounts"},
      {"another user: change access", made("BA", "(A;;WD;;;" + other + ")" + high), "Accounts"},
      {"Users: take ownership", made("BA", "(A;;WO;;;BU)" + high), "Accounts"},
      {"Everyone: generic write", made("BA", "(A;;GW;;;WD)" + high), "Accounts"},
      {"another user: generic all", made("BA", "(A;;GA;;;" + other + ")" + high), "Accounts"},
      {"the user running it: modify", "O:BAD:PAI(A;;FA;;;BA)(A;;0x1301bf;;;" + me + ")", ""},
      {"Authenticated Users: modify, no label", made("BA", ""), "Every signed-in"},
      {"Everyone: denied all", made("BA", "(D;;GA;;;WD)" + high), ""},
      {"a System label", made("BA", "S:(ML;;NW;;;SI)"), ""},
      {"a Medium label", made("BA", "S:(ML;;NW;;;ME)"), "Every signed-in"},
      {"a Medium label, then a High one", made("BA", "S:(ML;;NW;;;ME)(ML;;NW;;;HI)"), "Every"},
      {"a High label without no-write-up", made("BA", "S:(ML;;NR;;;HI)"), "Every signed-in"},
      {"a High label for children only", made("BA", "S:(ML;OIIO;NW;;;HI)"), "Every signed-in"},
      {"Everyone: all, for children only", made("BA", "(A;OICIIO;GA;;;WD)" + high), ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const char* reason = UntrustedSddlReason(row.sddl.c_str(), row.user ? row.user : me.c_str());
    EXPECT_EQ(reason ? std::string(reason).substr(0, row.reason.size()) : "trusted",
              row.reason.empty() ? "trusted" : row.reason);
  }
}
