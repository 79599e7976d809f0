// CoreBlnk: the blink clock of LEDs and display fields: "on" during the first
// second of every two seconds since it was built. Its fields are set once in
// the constructor, so any thread may read it.
#pragma once

class CoreBlnk {
public:
    CoreBlnk();
    bool getvl() const; // true in the "on" half

private:
    double dRate;  // radians per day: half a turn per second
    double dStart; // days since the epoch (CoreXutl::ttime)
};
