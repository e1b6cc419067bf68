// What the generated criteria parser and scanner call: the node builders, the error routine and the
// input of the current parse. Only criteria_grammar.y, criteria_scanner.l and criteria.cpp use it.
//
// All of it works on the parser's static state and runs under the parser lock (see criteria.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "tablestore/criteria.h"

namespace vx {

// A new copy of a VALUE or IDENTIFIER token's text; null when memory runs out (the parse then fails).
char* CriteriaTokenText(const char* text, int length);
// A comparison node that takes over both texts; becomes the node built last.
CriteriaNode* CriteriaBuildComparison(char* column_name, std::uint8_t op, char* literal);
// An AND or OR node over two subtrees, which it becomes the parent of; becomes the node built last.
CriteriaNode* CriteriaBuildJunction(std::uint8_t op, CriteriaNode* left, CriteriaNode* right);
// The error routine ("syntax error", "yacc stack overflow", "invalid syntax"): logs nothing; the node
// built last is given up and the parse returns null.
void CriteriaParseError(const char* message);
// Makes text the scanner's input, scanned in place: size bytes ending with two zero bytes (flex's
// end-of-buffer marks). false when the text is not so terminated. A scanner failure throws
// CriteriaScannerFailure.
bool CriteriaScanText(char* text, std::size_t size);
// Frees what the scanner holds (its buffer state and buffer stack); the text stays the caller's.
void CriteriaEndScan();

// Thrown by the scanner's fatal-error handler (instead of flex's exit), caught by ParseCriteria.
struct CriteriaScannerFailure {
  const char* message;
};
[[noreturn]] void CriteriaScannerFailed(const char* message);
// The scanner's allocation functions (malloc and realloc unless a test installed its own).
void* CriteriaScannerAllocate(std::size_t size);
void* CriteriaScannerReallocate(void* block, std::size_t size);

}  // namespace vx

// The generated parser and scanner (prefix criteria_yy).
int criteria_yyparse();
int criteria_yylex();
void criteria_yyerror(const char* message);
