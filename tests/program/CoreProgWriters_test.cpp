// The writers that commit the live program into its document: the whole commit against the golden text
// (the element order and every encoding), under any locale and again over its own result; every commit
// read back by load_ to the model's values; times that come back to the same sample counts; and
// documents whose containers repeat or are missing.
#include "ProgramFixtures.h"
#include "tests/common/DecimalCommaLocale.h"

namespace {

using namespace progtest;

std::vector<std::string> childTags(const CoreNode* node) {
    std::vector<std::string> tags;
    for (int i = 0; i < node->getcn()->Count; ++i)
        tags.push_back(static_cast<CoreNode*>(node->getcn()->Items[i])->gettx().c_str());
    return tags;
}

class CoreProgWriters : public LoadTest {
protected:
    // Commits, serialises and reads the text back with load_ over the fixture's files: every value the
    // writers store must come back, as must the stage sizes of a changed harmonic with an inline vector
    // (as the reloaded program's requests).
    CoreAnsx commitAndFind(CoreProg& written, CoreXml_& target) {
        const CoreAnsx committed = commit(written, target);
        auto reloaded = fresh(Access::programRate(written), INT32_MAX);
        EXPECT_TRUE(load(*reloaded, committed.c_str()));
        Dump expected = afterRoundTrip(dump(written), written), found = dump(*reloaded);
        for (Dump* d : {&expected, &found})
            std::erase_if(*d, [&](const auto& entry) {
                const std::string& key = entry.first;
                return (key[0] == 'H' && std::isdigit(key[1])) || key.rfind("RAW", 0) == 0 ||
                       key.rfind("GAINPADINTRIM", 0) == 0 || key.rfind("GAINPADOUTTRIM", 0) == 0 ||
                       key == "GAINIR" || key == "ALIGN" || key == "PROGRAMRATE" || key == "state" ||
                       (key == "VECTORFILENAME" && Access::vectorFileName(written) == CoreAnsx("0"));
            });
        EXPECT_EQ(differences(expected, found), "");
        const CoreProg::HLOC& hybrid = Access::record(written, Access::capacity(written));
        for (int h = 0; h < 3; ++h) {
            const CoreProg::HLOC &record = Access::record(written, h), &read = Access::record(*reloaded, h);
            const CoreNode* section = programOf(target)->getcd(DataXml_::sCtagrooth_ + CoreAnsx(h + 1));
            const CoreNode* root = section ? section->getcd(DataXml_::sCtagelemnt) : nullptr;
            if (!record.bValid || !record.bChanged || !root || !root->exslc(DataXml_::sCtagvector)) continue;
            // Under FORCEHYBRID the first harmonic stores the hybrid record's third stage.
            const bool hybridStage = written.getfh() && h == 0;
            const CoreProg::HLOC& third = hybridStage && hybrid.bValid ? hybrid : record;
            EXPECT_EQ(line(read.iSecondrequest, read.iFadeout, read.iThirdrequest, read.iCut, read.bThirdon),
                      line(record.iSecondsize, record.iFadeout, third.iThirdsize, third.iCut,
                           hybridStage ? read.bThirdon : record.bThirdon))
                << h;
        }
        return committed;
    }

    std::unique_ptr<CoreProg> model = fixture.make();
    std::unique_ptr<CoreXml_> document = parse(fixtureText);
};

TEST_F(CoreProgWriters, CommitMatchesTheGoldenTextUnderAnyLocaleAndReadsBackToTheModel) {
    fillModel(*model);
    const std::string golden = readBytes(goldenPath());
    ASSERT_FALSE(golden.empty()) << goldenPath();
    EXPECT_EQ(text(commitAndFind(*model, *document)) + "\n", golden);
    // A second commit deletes what the first wrote and appends the same again.
    EXPECT_EQ(text(commit(*model, *document)) + "\n", golden);
    DecimalCommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << "no decimal-comma locale available";
    EXPECT_EQ(text(commit(*model, *parse(fixtureText))) + "\n", golden);
}

TEST_F(CoreProgWriters, EditsReadBackAfterACommit) {
    const struct {
        const char* what;
        std::function<void(CoreProg&)> edit;
    } rows[] = {{"FORCEHYBRID with a hybrid record in use",
                 [](CoreProg& p) {
                     setRecord(p, 3, false, 0, 0, 96000, 9600, false);
                     p.setfh(true);
                     setRecord(p, 0, true, 480, 48, 4800, 480, false); // not the hybrid sizes setfh copied
                 }},
                {"FORCEHYBRID without one",
                 [](CoreProg& p) {
                     p.setfh(true);
                     setRecord(p, 0, true, 480, 48, 4800, 480, false);
                 }},
                // Dynamic attack linked, release "OFF": the group is not linked, so none of it is written.
                {"a follower group linked in half", [](CoreProg& p) {
                     p.getef(2)->setvl(0, 0, "", 0, 0, "", 0.0, 0, false, "OFF", false, "LFO1", "OFF", false,
                                       48000.0, false, "OFF", "OFF", false, 0.0, 1, "OFF");
                 }}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        model = fixture.make();
        fillModel(*model);
        r.edit(*model);
        commitAndFind(*model, *parse(fixtureText));
    }
}

TEST_F(CoreProgWriters, TimesReadBackToTheSameSampleCounts) {
    for (int32_t rate : {44100, 96000}) {
        for (int32_t count : {1, 441, 99999, 1000000, -200}) {
            SCOPED_TRACE(std::to_string(count) + " samples at " + std::to_string(rate) + " Hz");
            model = fixture.make();
            fillModel(*model);
            model->setrt(rate);
            model->getef(3)->setvl(count, count, "", count, count, "", 0.0, 0, false, "OFF", false, "OFF",
                                   "OFF", false, rate, false, "OFF", "OFF", false, 0.0, 1, "OFF");
            const double levels[4] = {0.0, 1.0, 0.5, 0.5};
            const int32_t times[4] = {count, count, count, count};
            const int16_t curves[4] = {0, 0, 0, 0};
            model->geten(0)->setvl("ON", "OFF", levels, times, curves, 1.0, "", 1.0, "");
            // A reloaded record keeps a fade of at least one sample and sizes its kernels by the stages.
            if (count >= 1 && count <= 100000) setRecord(*model, 1, true, count, count, count, count, false);
            commitAndFind(*model, *parse(fixtureText));
        }
    }
    // At a program rate below 1 the counts are written unchanged.
    CoreXml_ rateless;
    model = fixture.make();
    model->setrt(0);
    model->getef(0)->setvl(441, 1000, "", 1, -200, "", 0.0, 0, false, "OFF", false, "OFF", "OFF", false, 0.0,
                           false, "OFF", "OFF", false, 0.0, 1, "OFF");
    model->chgef(&rateless);
    const CoreNode* evf = programOf(rateless)->getcd("EVF1");
    EXPECT_EQ(line(evf->getli("MINATTACK"), evf->getli("MAXATTACK"), evf->getli("MINRELEASE"),
                   evf->getli("MAXRELEASE")),
              "441 1000 1 -200");
}

TEST_F(CoreProgWriters, RepeatedContainersAreEditedWhereTheReaderLooks) {
    fillModel(*model);
    setRecord(*model, 0, true, 441, 441, 4410, 441, true);
    model->setnm("Second");
    document = parse("<PROGRAM><NAME>first</NAME></PROGRAM>"
                     "<PROGRAM><NAME>old</NAME><DISPLAY><PRM1><LABEL>a</LABEL></PRM1></DISPLAY>"
                     "<DISPLAY><PRM1><LABEL>b</LABEL></PRM1></DISPLAY>"
                     "<H1><ELEMENT><VECTOR><COMMON><LENGTH>1</LENGTH></COMMON></VECTOR></ELEMENT></H1>"
                     "<H1><ELEMENT><VECTOR><COMMON><LENGTH>1</LENGTH></COMMON></VECTOR></ELEMENT>"
                     "<ELEMENT><VECTOR><COMMON><LENGTH>2</LENGTH></COMMON></VECTOR>"
                     "<VECTOR><COMMON><LENGTH>3</LENGTH></COMMON><COMMON><LENGTH>4</LENGTH></COMMON></"
                     "VECTOR></ELEMENT></H1></PROGRAM>");
    const std::string written = text(commitAndFind(*model, *document));
    EXPECT_EQ(written.rfind("<PROGRAM><NAME> first </NAME></PROGRAM><PROGRAM><DISPLAY><PRM1><LABEL> a <", 0),
              0u);
    const std::vector<std::string> tags = childTags(programOf(*document));
    EXPECT_EQ(std::count(tags.begin(), tags.end(), "DISPLAY"), 2);
    EXPECT_EQ(std::count(tags.begin(), tags.end(), "H1"), 2);
    // Only the last COMMON of the last VECTOR of the last ELEMENT of the last H1 takes the stages.
    for (const char* kept : {"<LENGTH> 1 </LENGTH>", "<LENGTH> 2 </LENGTH>", "<LENGTH> 3 </LENGTH>"})
        EXPECT_NE(written.find(kept), std::string::npos) << kept;
    EXPECT_EQ(written.find("<LENGTH> 4 </LENGTH>"), std::string::npos);
    EXPECT_NE(written.find("<COMMON><OT1>"), std::string::npos);
}

TEST_F(CoreProgWriters, DocumentsWithoutRootOrProgramGetThem) {
    CoreXml_ rootless, other;
    model->chgpr(&rootless, false, 0); // deleting changes nothing
    EXPECT_EQ(rootless.getrt(), nullptr);
    commit(*model, rootless);
    EXPECT_EQ(text(rootless.getrt()->gettx()), "ROOT");
    EXPECT_EQ(childTags(rootless.getrt()), std::vector<std::string>{"PROGRAM"});
    other.getfc("<OTHER> x </OTHER>");
    commit(*model, other);
    EXPECT_EQ(childTags(other.getrt()), (std::vector<std::string>{"OTHER", "PROGRAM"}));
    model->chgmx(nullptr); // nothing to write into, nothing to crash
}

} // namespace
