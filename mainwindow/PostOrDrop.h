#pragma once

#include "Application.h"
#include "DataSet.h"

// Posts the pending row; a row the engine refuses is dropped before the error
// goes on, so that the table is not left in the middle of an edit that the
// next operation would post again. A row another desk changed meanwhile is
// settled by the user first.
inline void postOrDrop(DataSet &table)
{
    try {
        Application::postSettled(table);
    } catch (...) {
        table.cancel();
        throw;
    }
}
