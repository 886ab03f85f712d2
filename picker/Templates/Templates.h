#pragma once
// The template engine: include this to make environments and templates and
// to extend the language with tags and filters.

#include "picker/Templates/Context.h"
#include "picker/Templates/Environment.h"
#include "picker/Templates/Errors.h"
#include "picker/Templates/Expression.h"
#include "picker/Templates/Extension.h"
#include "picker/Templates/Lexer.h"
#include "picker/Templates/Node.h"
#include "picker/Templates/Template.h"
#include "picker/Templates/TextForms.h"
#include "picker/Templates/TokenParser.h"
#include "picker/Templates/Variable.h"
