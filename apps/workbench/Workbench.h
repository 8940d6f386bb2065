// What zorvex-workbench does around the math editor.
#pragma once

#include <QString>
#include <QStringList>

namespace zorvex {

class TMathInterpreter;
class TfrmMathEditor;

namespace workbench {

// Adds the symbols of a file to the table: a symbol of the same name is
// replaced, the others stay, and an entry may use the symbols before it. A
// file that fails leaves the table as it was and raises.
void AddSymbolsFromFile(TMathInterpreter& interpreter, const QString& fileName);

// Adds the files in order; a file that fails is reported and skipped.
// Returns the files loaded.
QStringList LoadFiles(TMathInterpreter& interpreter, const QStringList& fileNames);

// Runs the editor until it is closed with the symbols unchanged, saved, or
// dropped on the user's word. Saving goes to the one file loaded, else to
// a file the user picks.
void Run(TfrmMathEditor& editor, const QStringList& loaded);

}  // namespace workbench
}  // namespace zorvex
