#include <pybind11/pybind11.h>

#include <memory>

#include "hebase/utils/Printable.h"
#include "hebase/utils/PrintUtils.h"
#include "python/Bindings.h"
#include "python/BoundClass.h"

namespace py = pybind11;

namespace quorvane {

void initPrintableBindings(py::module_& m)
{
  py::enum_<Verbosity>(m, "Verbosity", "Verbosity levels.")
      .value("VERBOSITY_NONE", VERBOSITY_NONE)
      .value("VERBOSITY_LOW", VERBOSITY_LOW)
      .value("VERBOSITY_REGULAR", VERBOSITY_REGULAR)
      .value("VERBOSITY_DETAILED", VERBOSITY_DETAILED)
      .value("VERBOSITY_EXTRA_DETAILED", VERBOSITY_EXTRA_DETAILED)
      .export_values();

  BoundClass<Printable, std::shared_ptr<Printable>>(m, "Printable")
      .def("to_string", &Printable::toString,
           R"(
            Convert object to string.

            :param verbosity: Verbosity level (default=VERBOSITY_REGULAR)
            :type verbosity: Verbosity
            :rtype: str
            )",
           py::arg("verbosity") = VERBOSITY_REGULAR)
      .def("__repr__", [](const Printable& p) { return p.toString(VERBOSITY_REGULAR); });
}

void initPrintOptionsBindings(py::module_& m)
{
  BoundClass<PrintOptions>(m, "PrintOptions", R"(
        Options that affect the debug printing of library objects.
        Global settings can be obtained by get_print_options().
        )")
      .def_readwrite("num_printed_elements", &PrintOptions::numPrintedElements,
                     "\n    When printing an array, how many elements will be printed.\n")
      .def_readwrite("num_printed_last_elements", &PrintOptions::numPrintedLastElements,
                     "\n    When printing an array, additional elements printed at the end.\n")
      .def_readwrite("print_complex_numbers", &PrintOptions::printComplexNumbers,
                     "\n    When false, the imaginary part of complex numbers is discarded in "
                     "prints.\n    Useful with CKKS when the imaginary part is not used.\n")
      .def_property("precision", [](const PrintOptions& o) { return o.precision; },
                    &PrintOptions::setPrecision,
                    "\n    Precision setting when printing floating point numbers, from 0 to 30.\n")
      .def_property("table_cell_width", [](const PrintOptions& o) { return o.tableCellWidth; },
                    &PrintOptions::setTableCellWidth,
                    "\n    Width of element when printing tables of numbers, from 0 to 100.\n")
      .def_readwrite("factor", &PrintOptions::factor,
                     "\n    When other than one, some ciphertext prints also show the values\n"
                     "    multiplied by this factor, beside the unscaled ones.\n")
      .def_readwrite("print_encrypted_content", &PrintOptions::printEncryptedContent,
                     "\n    When true, some ciphertext prints also print the ciphertext itself,\n"
                     "    such as the CRT residues of its polynomials.\n")
      .def_readwrite("tt_demo_tiles", &PrintOptions::ttDemoTiles,
                     "\n    Adds to tile tensor prints a demonstration of the tiles; works only\n"
                     "    for two non-trivial tile dimensions.\n");

  m.def("get_print_options", &getPrintOptions, "\n    Returns global print options.\n",
        py::return_value_policy::reference);
}

} // namespace quorvane
