// What the generated criteria parser and scanner call: the node builders, the error routine and the
// input of the current parse. Only criteria_grammar.y, criteria_scanner.l and criteria.cpp use it.
//
// All of it works on the parser's static state and runs under the parser lock (see criteria.h).
#pragma once

#include <cstdint>

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
// Copies the next line of the current criteria text (up to and including its line feed, at most
// max_size characters) into buffer; 0 at the end of the text.
int CriteriaReadInput(char* buffer, int max_size);
// Forgets what the scanner still holds of an earlier parse's text.
void CriteriaDiscardScannerInput();

}  // namespace vx

// The generated parser and scanner (prefix criteria_yy).
int criteria_yyparse();
int criteria_yylex();
void criteria_yyerror(const char* message);
