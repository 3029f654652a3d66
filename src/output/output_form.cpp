// The output form in use; see output_form.h.
#include "output/output_form.h"

const output_form *output = &key_text_form;

void reset_output()
{
	output = &key_text_form;
}
