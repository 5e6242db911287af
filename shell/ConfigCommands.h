#pragma once
// Where the set configex dialogue and the password that set config and create service_object ask
// for read their answers.

#include <string>

class TextInput;
struct ServiceSettings;

// Null, the default, opens the process's standard input for the command. The loop gives the
// reader of the standard input that it keeps for the whole run (its own input when it reads the
// standard input too), so that both read one stream, one buffer and one byte-order mark; a
// console read ends with its line, so the loop's reads and these follow one another.
void SetConfigAnswerInput(TextInput* input);

// The password of the settings; typed on the console without being shown, from where the
// answers are read, when it is given as "*". Empty when none is given.
std::wstring PasswordGivenOrAsked(const ServiceSettings& settings);
