// Whether Windows trusts a list with a given owner, access list and label, written in SDDL.
#include <gtest/gtest.h>

#include <string>

#include "trust.h"

// Owner, writers and label, one rule a row. The user running it is `me`; a file an administrator
// makes in C:\ inherits the entries of `inherited` and the High label with no-write-up.
TEST(UntrustedSddlReasonTest, LeavesChangeToAdministratorsSystemAndTheUser) {
  const std::string me = "S-1-5-21-1-2-3-1001", other = "S-1-5-21-1-2-3-1002";
  const std::string high = "S:AI(ML;ID;NW;;;HI)";
  // Owner, then entries after the inherited ones, then the label.
  const auto made = [](const std::string& owner, const std::string& entries,
                       const std::string& label) {
    return "O:" + owner +
           "D:AI(A;ID;FA;;;BA)(A;ID;FA;;;SY)(A;ID;0x1200a9;;;BU)(A;ID;0x1301bf;;;AU)" + entries +
           label;
  };
  const char *accepted = nullptr, *owner = "Owned by", *anyone = "Anyone may",
             *signed_in = "Every signed-in user", *others = "Accounts other";
  const struct {
    const char* name;
    std::string sddl;
    const char* reason;  // its start
  } rows[] = {
      {"made by an administrator in C:\\", made(me, "", high), accepted},
      {"owned by Administrators", made("BA", "", high), accepted},
      {"after the icacls lines", "O:BAD:PAI(A;;FA;;;BA)(A;;FA;;;SY)(A;;0x1200a9;;;BU)", accepted},
      {"by Group Policy, as SYSTEM", made("SY", "", high), accepted},
      {"owned by TrustedInstaller",
       made("S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", "", high), accepted},
      {"owned by another user", made(other, "", high), owner},
      // Wine reads D:NO_ACCESS_CONTROL as an empty list, not as none.
      {"no access list", "O:BA" + high, anyone},
      {"Users: modify", made("BA", "(A;;0x1301bf;;;BU)", high), others},
      {"Everyone: write data", made("BA", "(A;;0x2;;;WD)", high), others},
      {"INTERACTIVE: append data", made("BA", "(A;;0x4;;;IU)", high), others},
      {"another user: write the access list", made("BA", "(A;;WD;;;" + other + ")", high), others},
      {"Users: take ownership", made("BA", "(A;;WO;;;BU)", high), others},
      {"Everyone: generic write", made("BA", "(A;;GW;;;WD)", high), others},
      {"another user: generic all", made("BA", "(A;;GA;;;" + other + ")", high), others},
      {"the user running it: modify", "O:BAD:PAI(A;;FA;;;BA)(A;;0x1301bf;;;" + me + ")", accepted},
      {"Authenticated Users: modify, no label", made("BA", "", ""), signed_in},
      {"a Medium label", made("BA", "", "S:(ML;;NW;;;ME)"), signed_in},
      {"a High label without no-write-up", made("BA", "", "S:(ML;;NR;;;HI)"), signed_in},
      {"a High label for children only", made("BA", "", "S:(ML;OIIO;NW;;;HI)"), signed_in},
      {"a System label", made("BA", "", "S:(ML;;NW;;;SI)"), accepted},
      {"Everyone: all, for children only", made("BA", "(A;OICIIO;GA;;;WD)", high), accepted},
      {"Everyone: write denied", "O:BAD:PAI(D;;GW;;;WD)(A;;FA;;;BA)(A;;0x1200a9;;;WD)", accepted},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const char* reason = UntrustedSddlReason(row.sddl.c_str(), me.c_str());
    EXPECT_EQ(
        std::string(reason ? reason : "trusted").rfind(row.reason ? row.reason : "trusted", 0), 0u)
        << reason;
  }
}
