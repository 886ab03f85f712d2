#pragma once
// The sort argument of the data service's `sorted`.

#include <string>

enum class ZNLSortingOptions { ascending, descending };

struct ZNLSortingDescriptor {
    std::string sortBy;  // a key path of the model type
    ZNLSortingOptions sortingOption = ZNLSortingOptions::ascending;

    friend bool operator==(const ZNLSortingDescriptor&, const ZNLSortingDescriptor&) = default;
};
