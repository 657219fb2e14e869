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
    // An initialisation that raises ends the start: the units initialised before it are
    // finalised, in the reverse order, and the exception goes on to the caller.
    TUnits(std::initializer_list<TUnitInit> AUnits) : TUnits(std::vector<TUnitInit>(AUnits)) {}
    TUnits(const std::vector<TUnitInit>& AUnits)
    {
        FUnits.reserve(AUnits.size());
        try {
            for (const TUnitInit& unit : AUnits) {
                if (unit.Initialization)
                    unit.Initialization();
                FUnits.push_back(unit);
            }
        } catch (...) {
            Finalize();
            throw;
        }
    }
    ~TUnits() { Finalize(); }
    TUnits(const TUnits&) = delete;
    TUnits& operator=(const TUnits&) = delete;

private:
    void Finalize()
    {
        for (auto it = FUnits.rbegin(); it != FUnits.rend(); ++it)
            if (it->Finalization)
                it->Finalization();
        FUnits.clear();
    }

    std::vector<TUnitInit> FUnits;
};
