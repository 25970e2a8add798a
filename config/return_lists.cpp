// TEMPORARY placeholder, replaced by the real implementation.
#include "config/return_lists.h"
GoodCmdStructure* NewGoodCmdStructure(int) { return nullptr; }
FailCmdStructure* NewFailCmdStructure(const char*, long, int) { return nullptr; }
void DeleteFailCmdStructure(FailCmdStructure*) {}
void DeleteGoodCmdStructure(GoodCmdStructure*) {}
int32_t TokenNumber(const std::string&) { return 0; }
GoodCmdStructure* GetNumbers(std::string) { return nullptr; }
FailCmdStructure* GetNumbers(std::string, const char*, MultiSectionConfigFile&) { return nullptr; }
FailCmdStructure* GetFailCommand(FailCmdStructure*, long) { return nullptr; }
int IsGoodReturnValue(const GoodCmdStructure*, int) { return 0; }
