#pragma once
// Unit initialisation and finalisation: each unit that has them offers a pair of functions;
// a program (or a test) runs the initialisations in link order and the finalisations in the
// reverse order when it ends.

#include <initializer_list>
#include <vector>

struct TUnitInit {
    void (*Initialization)();
    void (*Finalization)();
};

class TUnits {
public:
    TUnits(std::initializer_list<TUnitInit> AUnits) : FUnits(AUnits)
    {
        for (const TUnitInit& unit : FUnits)
            if (unit.Initialization)
                unit.Initialization();
    }
    ~TUnits()
    {
        for (auto it = FUnits.rbegin(); it != FUnits.rend(); ++it)
            if (it->Finalization)
                it->Finalization();
    }
    TUnits(const TUnits&) = delete;
    TUnits& operator=(const TUnits&) = delete;

private:
    std::vector<TUnitInit> FUnits;
};
