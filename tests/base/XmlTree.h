// Test helpers for the XML tree and document tests: a node with its children in one expression,
// an element holding one value, and a tree printed as its debug dump.
#pragma once
#include "base/CoreNode.h"

#include <initializer_list>
#include <string>

inline CoreNode* element(const char* name, std::initializer_list<CoreNode*> children) {
    CoreNode* node = new CoreNode(name);
    for (CoreNode* child : children) node->addcd(child);
    return node;
}

inline CoreNode* valued(const char* name, const char* value) {
    return element(name, {new CoreNode(value)});
}

inline std::string dump(const CoreNode* node) {
    return node ? node->debug(0, nullptr).c_str() : "(null)";
}
