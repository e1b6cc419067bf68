/* The criteria language: one or more lines, each a comparison or an AND/OR combination of them.
 * AND and OR bind equally and group to the right; parentheses group explicitly. A comparison is a
 * column name against a literal, in either order; the operator is never mirrored, so 5 < AGE means
 * AGE < 5. The actions only call the node builders of criteria.cpp. */
%{
#include "tablestore/criteria_parse.h"
%}

%union {
  char* text;
  vx::CriteriaNode* node;
}

%token <text> VALUE 257
%token <text> IDENTIFIER 258
%token LT 259
%token GT 260
%token GE 261
%token LE 262
%token EQ 263
%token NE 264
%token AND 265
%token OR 266

%right AND OR

%type <node> expr

%%

list
  : list expr '\n'
  | /* empty */
  ;

expr
  : IDENTIFIER LT VALUE { $$ = vx::CriteriaBuildComparison($1, vx::kOpLess, $3); }
  | IDENTIFIER GT VALUE { $$ = vx::CriteriaBuildComparison($1, vx::kOpGreater, $3); }
  | IDENTIFIER LE VALUE { $$ = vx::CriteriaBuildComparison($1, vx::kOpLessOrEqual, $3); }
  | IDENTIFIER GE VALUE { $$ = vx::CriteriaBuildComparison($1, vx::kOpGreaterOrEqual, $3); }
  | IDENTIFIER EQ VALUE { $$ = vx::CriteriaBuildComparison($1, vx::kOpEqual, $3); }
  | IDENTIFIER NE VALUE { $$ = vx::CriteriaBuildComparison($1, vx::kOpNotEqual, $3); }
  | VALUE LT IDENTIFIER { $$ = vx::CriteriaBuildComparison($3, vx::kOpLess, $1); }
  | VALUE GT IDENTIFIER { $$ = vx::CriteriaBuildComparison($3, vx::kOpGreater, $1); }
  | VALUE LE IDENTIFIER { $$ = vx::CriteriaBuildComparison($3, vx::kOpLessOrEqual, $1); }
  | VALUE GE IDENTIFIER { $$ = vx::CriteriaBuildComparison($3, vx::kOpGreaterOrEqual, $1); }
  | VALUE EQ IDENTIFIER { $$ = vx::CriteriaBuildComparison($3, vx::kOpEqual, $1); }
  | VALUE NE IDENTIFIER { $$ = vx::CriteriaBuildComparison($3, vx::kOpNotEqual, $1); }
  | expr AND expr { $$ = vx::CriteriaBuildJunction(vx::kOpAnd, $1, $3); }
  | expr OR expr { $$ = vx::CriteriaBuildJunction(vx::kOpOr, $1, $3); }
  | '(' expr ')' { $$ = $2; }
  ;

%%

void criteria_yyerror(const char* message) { vx::CriteriaParseError(message); }
