#ifndef QUORVANE_PYTHON_DOCSTRINGS_H
#define QUORVANE_PYTHON_DOCSTRINGS_H

// Pieces of the multi-line docstring layout of the multi-party bindings: each
// text line starts on a new line indented by 13 blanks, and the docstring
// ends with a line break and 11 blanks. An empty line separates a
// description from the field lines, e.g.
//   QV_DOC "Description." "\n" QV_DOC ":rtype: int." QV_DOC_END
#define QV_DOC "\n             "
#define QV_DOC_END "\n           "

#endif
