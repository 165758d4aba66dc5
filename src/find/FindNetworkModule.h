#pragma once

#include "finder/FindNetwork.h"

#include <memory>
#include <string>

// Loads the network module (Qt Network) from the executable's folder the
// first time Find is pressed, so a program that never looks anything up
// never maps it. Raises Exception when the module or its entry is missing.
std::unique_ptr<IFindNetwork> CreateFindNetwork();

// Where the module is looked for instead; for programs built apart from it.
void SetFindNetworkFolder(const std::string& folder);

bool FindNetworkLoaded();
