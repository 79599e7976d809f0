// The tag table: its names are ready for static initialisers in other files, whatever the link order.
// (The names themselves are checked where documents are read and written: the golden commit, the
// reader's tables and the round trips.)
#include "program/DataXml_.h"

#include <gtest/gtest.h>

namespace {

// Built by static initialisers of this file, which the linker places before the table's own file.
const CoreAnsx copiedAtStartUp = DataXml_::sCtagprogrm;
const CoreAnsx builtAtStartUp = DataXml_::sCtagrootlf + CoreAnsx(2);

TEST(DataXml_, StaticInitialisersElsewhereSeeTheNames) {
    EXPECT_EQ(copiedAtStartUp, CoreAnsx("PROGRAM"));
    EXPECT_EQ(builtAtStartUp, CoreAnsx("LFO2"));
}

} // namespace
