// A running (or attached) application under test, as scripts see it.
#pragma once

#include "sharedptr.h"

#include <QString>

class ApplicationContext : public Shared {
public:
    virtual QString name() const = 0;
};
