// CoreKehk: the editor's keyboard hook: while installed, every key the linked frame gets goes to
// CoreInpt::keytr, which sends it to this hook's own effect. Installed while the display's text
// entry focus is set; installing or removing twice acts once. Used under the editor lock.
#pragma once

class CoreFrlk;
class CorePpwr;

class CoreKehk {
public:
    CoreKehk(CoreFrlk* link, CorePpwr* effect);
    ~CoreKehk(); // removes the hook
    CoreKehk(const CoreKehk&) = delete;
    CoreKehk& operator=(const CoreKehk&) = delete;

    void dohok();
    void unhok();
    bool isins() const { return bInstalled; }

private:
    CoreFrlk* pLink;
    CorePpwr* pEffect;
    bool bInstalled = false;
};
